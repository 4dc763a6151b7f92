// The libFuzzer target for the tool's pure logic, with the sanitizers watching every buffer. Any
// bytes decode to UTF-16 and encode back to exactly themselves. The same bytes, two a unit, make
// a text that latinize_name maps without leaving a letter of the table, and that a line shows,
// however long, fitted to a path buffer, with no control character of its own, and ending as the
// text ends.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "latinize/latinize.h"
#include "platform/utf8.h"
#include "text/text.h"

static void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

static bool is_control(char16_t unit) {
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
}

static bool is_letter(char16_t unit) {
    return (unit >= u'А' && unit <= u'я') || unit == u'Ё' || unit == u'ё';
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    auto units = std::make_unique<char16_t[]>(size + 1);
    auto back = std::make_unique<char[]>(utf8_capacity_for(size));
    std::size_t count = 0, length = 0;
    check(utf8_to_utf16(bytes, size, units.get(), size + 1, &count));
    check(utf16_to_utf8(units.get(), count, back.get(), utf8_capacity_for(count), &length));
    check(length == size && std::memcmp(back.get(), bytes, size) == 0);

    std::u16string text;
    for (std::size_t i = 0; i + 1 < size && (data[i] | data[i + 1]) != 0; i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    }
    PathBuffer latin;
    bool fit = false;
    const bool changed = latinize_name(text.c_str(), latin, &fit);
    const std::u16string result(latin);
    check(changed == std::any_of(text.begin(), text.end(), is_letter) &&
          (!fit || changed || result == text));
    check(std::none_of(result.begin(), result.end(), is_letter));

    const char16_t* paths[] = {text.c_str(), text.c_str()};
    PathBuffer line;
    check(format_fitted_list(line, u"rename file from %s to %s\n", paths, 2, &length));
    check(length < PATH_UNITS && line[length - 1] == u'\n' &&
          std::none_of(line, line + length - 1, is_control) &&
          (text.empty() || line[length - 2] == text.back() || is_control(text.back())));
    return 0;
}
