// The bounded formatter and the small text helpers shared by every part of the tool.
#include "text/text.h"

#include <cstring>

std::size_t text_length(const char16_t* text) {
    std::size_t length = 0;
    // Four units a step: a path is long enough for the loop's own cost to tell.
    while (text[length] != u'\0' && text[length + 1] != u'\0' && text[length + 2] != u'\0' &&
           text[length + 3] != u'\0') {
        length += 4;
    }
    while (text[length] != u'\0') {
        ++length;
    }
    return length;
}

bool format_text_list(char16_t* dest, std::size_t capacity, const char16_t* format,
                      const char16_t* const* args, std::size_t arg_count, std::size_t* length) {
    *length = 0;
    if (capacity == 0) {
        return false;
    }
    std::size_t& written = *length;
    std::size_t next_arg = 0;
    bool fit = true;
    for (const char16_t* f = format; *f != u'\0' && fit;) {
        // The next piece: a "%s" text, or else the format's own units up to the next "%s".
        const char16_t* piece = f;
        std::size_t piece_length = 0;
        if (f[0] == u'%' && f[1] == u's') {
            piece = next_arg < arg_count ? args[next_arg] : u"";
            piece_length = text_length(piece);
            ++next_arg;
            f += 2;
        } else {
            do {
                ++piece_length;
            } while (f[piece_length] != u'\0' &&
                     (f[piece_length] != u'%' || f[piece_length + 1] != u's'));
            f += piece_length;
        }
        const std::size_t room = capacity - 1 - written;
        fit = piece_length <= room;
        const std::size_t copied = fit ? piece_length : room;
        std::memcpy(dest + written, piece, copied * sizeof(char16_t));
        written += copied;
    }
    if (!fit && written > 0 && is_high_surrogate(dest[written - 1])) {
        --written;  // its low half did not fit: never leave half a pair
    }
    dest[written] = u'\0';
    return fit;
}
