// console_print: bounded formatting, cutting overlong messages, and the write.
#include "console/console.h"

#include "platform/platform.h"

std::size_t console_print_list(const char16_t* format, const char16_t* const* args,
                               std::size_t arg_count) {
    PathBuffer message;
    std::size_t length = 0;
    if (!format_text_list(message, PATH_UNITS, format, args, arg_count, &length)) {
        const std::size_t format_length = text_length(format);
        const bool ends_line = format_length > 0 && format[format_length - 1] == u'\n';
        if (ends_line) {
            if (length > PATH_UNITS - 2) {
                length = PATH_UNITS - 2;
            }
            if (length > 0 && is_high_surrogate(message[length - 1])) {
                --length;
            }
            message[length++] = u'\n';
            message[length] = u'\0';
        }
    }
    return console_write(message, length) ? length : 0;
}
