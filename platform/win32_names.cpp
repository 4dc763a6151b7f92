// Win32 name rules: reserved device names and the endings Win32 strips.
#include "platform/win32_names.h"

namespace {

constexpr char16_t to_upper_ascii(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - (u'a' - u'A')) : unit;
}

bool is_device_digit(char16_t unit) {
    return (unit >= u'0' && unit <= u'9') || unit == u'\u00B9' || unit == u'\u00B2' ||
           unit == u'\u00B3';
}

// True when the `length` units at name spell `word` (upper case ASCII) in any letter case.
bool spells(const char16_t* name, std::size_t length, const char16_t* word) {
    std::size_t i = 0;
    for (; i < length && word[i] != u'\0'; ++i) {
        if (to_upper_ascii(name[i]) != word[i]) {
            return false;
        }
    }
    return i == length && word[i] == u'\0';
}

}  // namespace

bool is_reserved_device_name(const char16_t* name) {
    std::size_t base = 0;
    while (name[base] != u'\0' && name[base] != u'.' && name[base] != u':') {
        ++base;
    }
    while (base > 0 && name[base - 1] == u' ') {
        --base;
    }
    if (spells(name, base, u"CON") || spells(name, base, u"PRN") || spells(name, base, u"AUX") ||
        spells(name, base, u"NUL")) {
        return true;
    }
    return base == 4 && (spells(name, 3, u"COM") || spells(name, 3, u"LPT")) &&
           is_device_digit(name[3]);
}

bool has_stripped_ending(const char16_t* name) {
    std::size_t length = 0;
    while (name[length] != u'\0') {
        ++length;
    }
    return length > 0 && (name[length - 1] == u'.' || name[length - 1] == u' ');
}
