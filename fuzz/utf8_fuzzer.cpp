// The byte-name conversion on any bytes: decoding and encoding back gives the very same bytes,
// and a buffer too small is reported, never overrun.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/utf8.h"

namespace {

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    // Every byte decodes to at most one unit.
    auto units = std::make_unique<char16_t[]>(size + 1);
    std::size_t unit_count = 0;
    check(utf8_to_utf16(bytes, size, units.get(), size + 1, &unit_count));
    check(unit_count <= size && units[unit_count] == u'\0');

    const std::size_t capacity = utf8_capacity_for(unit_count);
    auto encoded = std::make_unique<char[]>(capacity);
    std::size_t length = 0;
    check(utf16_to_utf8(units.get(), unit_count, encoded.get(), capacity, &length));
    check(length == size && std::memcmp(encoded.get(), bytes, size) == 0);

    // Too small by one: refused, terminated, and nothing written past the end.
    if (unit_count > 0) {
        auto small = std::make_unique<char16_t[]>(unit_count);
        std::size_t cut = 0;
        check(!utf8_to_utf16(bytes, size, small.get(), unit_count, &cut));
    }
    if (length > 0) {
        auto small = std::make_unique<char[]>(length);
        std::size_t cut = 0;
        check(!utf16_to_utf8(units.get(), unit_count, small.get(), length, &cut));
    }
    return 0;
}
