// console_print: the tool's only way of writing anything.
#pragma once

#include <cstddef>

#include "text/text.h"

// Formats `format` with its "%s" texts into one path buffer, as format_fitted_list does (control
// characters of the texts shown as stand-ins, a line too long fitted by shortening its texts from
// the left), and writes it to standard output. Returns the units written or kept, or 0 when the
// write failed and the line was lost.
std::size_t console_print_list(const char16_t* format, const char16_t* const* args,
                               std::size_t arg_count);

template <typename... Texts>
std::size_t console_print(const char16_t* format, const Texts*... texts) {
    const char16_t* args[] = {texts..., nullptr};
    return console_print_list(format, args, sizeof...(texts));
}
