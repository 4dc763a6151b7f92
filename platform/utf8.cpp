// UTF-8 <-> UTF-16 with invalid bytes carried as lone surrogates, so that no name is ever mangled.
#include "platform/utf8.h"

namespace {

constexpr char16_t ESCAPE_BASE = 0xDC00;  // byte 0x80-0xFF <-> U+DC80-U+DCFF

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

bool is_escape(char32_t unit) {
    return unit >= ESCAPE_BASE + 0x80 && unit <= ESCAPE_BASE + 0xFF;
}

// Length of the valid UTF-8 sequence starting at bytes[0] (at most `left` bytes long), with its
// code point in *code_point, or 0 when no valid sequence starts there. Overlong forms, encoded
// surrogates and code points past U+10FFFF are invalid.
std::size_t decode_one(const unsigned char* bytes, std::size_t left, char32_t* code_point) {
    const unsigned char lead = bytes[0];
    if (lead < 0x80) {
        *code_point = lead;
        return 1;
    }
    if (lead < 0xC2 || lead > 0xF4) {
        return 0;  // a continuation, an overlong lead, or past U+10FFFF
    }
    const std::size_t size = lead <= 0xDF ? 2 : lead <= 0xEF ? 3 : 4;
    if (left < size) {
        return 0;
    }
    char32_t value = lead & (0x7F >> size);
    for (std::size_t i = 1; i < size; ++i) {
        if (!is_continuation(bytes[i])) {
            return 0;
        }
        value = (value << 6) | (bytes[i] & 0x3F);
    }
    // The least code point each length may carry: anything less is an overlong form.
    constexpr char32_t LEAST[] = {0x80, 0x800, 0x10000};
    if (value < LEAST[size - 2] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
        return 0;
    }
    *code_point = value;
    return size;
}

}  // namespace

bool utf8_to_utf16(const char* bytes, std::size_t length, char16_t* dest, std::size_t capacity,
                   std::size_t* units) {
    if (capacity == 0) {
        return false;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    std::size_t written = 0;
    std::size_t i = 0;
    bool fit = true;
    while (i < length) {
        if (in[i] < 0x80 && written + 1 < capacity) {  // ASCII, most of any name, as it is
            dest[written++] = in[i++];
            continue;
        }
        char32_t code_point = 0;
        std::size_t size = decode_one(in + i, length - i, &code_point);
        char16_t out[2];
        std::size_t out_units = 1;
        if (size == 0) {
            size = 1;
            out[0] = static_cast<char16_t>(ESCAPE_BASE + in[i]);
        } else if (code_point < 0x10000) {
            out[0] = static_cast<char16_t>(code_point);
        } else {
            code_point -= 0x10000;
            out[0] = static_cast<char16_t>(0xD800 + (code_point >> 10));
            out[1] = static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
            out_units = 2;
        }
        if (written + out_units >= capacity) {
            fit = false;
            break;
        }
        for (std::size_t k = 0; k < out_units; ++k) {
            dest[written++] = out[k];
        }
        i += size;
    }
    dest[written] = u'\0';
    *units = written;
    return fit;
}

bool utf16_to_utf8(const char16_t* text, std::size_t units, char* dest, std::size_t capacity,
                   std::size_t* length) {
    if (capacity == 0) {
        return false;
    }
    auto* out = reinterpret_cast<unsigned char*>(dest);
    std::size_t written = 0;
    bool fit = true;
    for (std::size_t i = 0; i < units; ++i) {
        // A run of ASCII, most of any path, takes the short way.
        const std::size_t room = capacity - 1 - written;
        const std::size_t run_end = units - i < room ? units : i + room;
        // Four units at a time while all four are ASCII.
        while (i + 4 <= run_end && (text[i] | text[i + 1] | text[i + 2] | text[i + 3]) < 0x80) {
            for (std::size_t k = 0; k < 4; ++k) {
                out[written + k] = static_cast<unsigned char>(text[i + k]);
            }
            written += 4;
            i += 4;
        }
        while (i < run_end && text[i] < 0x80) {
            out[written++] = static_cast<unsigned char>(text[i++]);
        }
        if (i == units) {
            break;
        }
        // Past the run, ASCII is met only once dest is full, where no size fits.
        const char32_t unit = text[i];
        std::size_t size = 3;
        if (is_escape(unit)) {
            size = 1;
        } else if (unit < 0x800) {
            size = 2;
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 &&
                   text[i + 1] <= 0xDFFF) {
            size = 4;
        }
        if (written + size >= capacity) {
            fit = false;
            break;
        }
        unsigned char* at = out + written;
        written += size;
        if (size == 1) {
            at[0] = static_cast<unsigned char>(unit - ESCAPE_BASE);
        } else if (size == 2) {
            at[0] = static_cast<unsigned char>(0xC0 | (unit >> 6));
            at[1] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        } else if (size == 3) {
            at[0] = static_cast<unsigned char>(0xE0 | (unit >> 12));
            at[1] = static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F));
            at[2] = static_cast<unsigned char>(0x80 | (unit & 0x3F));
        } else {
            const char32_t code_point = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
            at[0] = static_cast<unsigned char>(0xF0 | (code_point >> 18));
            at[1] = static_cast<unsigned char>(0x80 | ((code_point >> 12) & 0x3F));
            at[2] = static_cast<unsigned char>(0x80 | ((code_point >> 6) & 0x3F));
            at[3] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
        }
    }
    dest[written] = '\0';
    *length = written;
    return fit;
}

bool holds_escaped_bytes(const char16_t* text) {
    for (std::size_t i = 0; text[i] != u'\0'; ++i) {
        if (is_escape(text[i]) && (i == 0 || text[i - 1] < 0xD800 || text[i - 1] > 0xDBFF)) {
            return true;  // a low surrogate of the escapes, not the end of a pair
        }
    }
    return false;
}
