// console_print: one line, fitted to a path buffer, and the write.
#include "console/console.h"

#include "platform/output.h"

std::size_t console_print_list(const char16_t* format, const char16_t* const* args,
                               std::size_t arg_count) {
    PathBuffer message;
    std::size_t length = 0;
    if (!format_fitted_list(message, format, args, arg_count, &length)) {
        return 0;
    }
    return console_write(message, length) ? length : 0;
}
