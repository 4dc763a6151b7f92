// console_print: the tool's only way of writing anything.
#pragma once

#include <cstddef>

#include "text/text.h"

// Formats `format` with its "%s" texts into one path buffer and writes it to standard output.
// A line longer than PATH_UNITS - 1 units is fitted by shortening its texts (paths, and at most
// FITTED_TEXTS of them) from the left, so that it keeps its own words and still ends with the
// end of its last text and its line feed. Returns the units written, or 0 when the write failed
// and the line was lost.
std::size_t console_print_list(const char16_t* format, const char16_t* const* args,
                               std::size_t arg_count);

template <typename... Texts>
std::size_t console_print(const char16_t* format, const Texts*... texts) {
    const char16_t* args[] = {texts..., nullptr};
    return console_print_list(format, args, sizeof...(texts));
}
