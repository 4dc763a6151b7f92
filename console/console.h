// console_print: the tool's only way of writing anything.
#pragma once

#include <cstddef>

#include "text/text.h"

// Formats `format` with its "%s" texts into one path buffer and writes it to standard output.
// A message longer than PATH_UNITS - 1 units is cut to fit, never between the halves of a
// surrogate pair, and keeps the line feed its format ends with, so that lines never run
// together. Returns the units written, or 0 when the write failed and the message was lost.
std::size_t console_print_list(const char16_t* format, const char16_t* const* args,
                               std::size_t arg_count);

template <typename... Texts>
std::size_t console_print(const char16_t* format, const Texts*... texts) {
    const char16_t* args[] = {texts..., nullptr};
    return console_print_list(format, args, sizeof...(texts));
}
