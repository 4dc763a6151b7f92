// Turns a fuzzer's bytes into the UTF-16 texts the tool works on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Every two bytes make one code unit; a NUL unit, which no name holds, ends one text and starts
// the next.
inline std::u16string take_text(const std::uint8_t** data, std::size_t* size) {
    std::u16string text;
    while (*size >= 2) {
        const char16_t unit = static_cast<char16_t>((*data)[0] | ((*data)[1] << 8));
        *data += 2;
        *size -= 2;
        if (unit == u'\0') {
            break;
        }
        text.push_back(unit);
    }
    return text;
}
