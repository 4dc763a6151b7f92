// The bounded formatter and the small text helpers shared by every part of the tool.
#include "text/text.h"

std::size_t text_length(const char16_t* text) {
    std::size_t length = 0;
    while (text[length] != u'\0') {
        ++length;
    }
    return length;
}

namespace {

// Appends one unit when there is room for it and the terminator; reports whether it fit.
bool append_unit(char16_t* dest, std::size_t capacity, std::size_t* length, char16_t unit) {
    if (*length + 1 >= capacity) {
        return false;
    }
    dest[(*length)++] = unit;
    return true;
}

}  // namespace

bool format_text_list(char16_t* dest, std::size_t capacity, const char16_t* format,
                      const char16_t* const* args, std::size_t arg_count) {
    if (capacity == 0) {
        return false;
    }
    std::size_t length = 0;
    std::size_t next_arg = 0;
    bool fit = true;
    for (const char16_t* f = format; *f != u'\0' && fit; ++f) {
        if (f[0] == u'%' && f[1] == u's') {
            ++f;
            const char16_t* arg = next_arg < arg_count ? args[next_arg] : u"";
            ++next_arg;
            for (const char16_t* a = arg; *a != u'\0' && fit; ++a) {
                fit = append_unit(dest, capacity, &length, *a);
            }
        } else {
            fit = append_unit(dest, capacity, &length, *f);
        }
    }
    if (!fit && length > 0 && is_high_surrogate(dest[length - 1])) {
        --length;  // its low half did not fit: never leave half a pair
    }
    dest[length] = u'\0';
    return fit;
}
