// The bounded formatters and the small text helpers shared by every part of the tool.
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

bool same_but_letter_case(const char16_t* a, const char16_t* b) {
    std::size_t i = 0;
    while (a[i] != u'\0' && capital_of(a[i]) == capital_of(b[i])) {
        ++i;
    }
    return capital_of(a[i]) == capital_of(b[i]);
}

namespace {

// Control characters (U+0000-U+001F, U+007F-U+009F), which a line shows as visible stand-ins,
// so that a name never breaks its line nor reaches a terminal as an escape.
inline bool is_control(char16_t unit) {
    return unit < 0x20 || static_cast<char16_t>(unit - 0x7F) <= 0x20;
}

// Whether any of `length` units is a control character. Asks every unit, so that it runs in
// vector steps; names seldom hold one, and are then copied as they stand.
bool holds_control(const char16_t* text, std::size_t length) {
    unsigned found = 0;
    for (std::size_t i = 0; i < length; ++i) {
        found |= static_cast<unsigned>(is_control(text[i]));
    }
    return found != 0;
}

// A control character's stand-in: its picture U+2400-U+241F, U+2421 for U+007F, U+FFFD for the
// rest.
char16_t stand_in(char16_t control) {
    if (control < 0x20) {
        return static_cast<char16_t>(0x2400 + control);
    }
    return control == 0x7F ? 0x2421 : 0xFFFD;
}

// format_text_list, and with show_controls each text's control characters as their stand-ins.
bool format_pieces(char16_t* dest, std::size_t capacity, const char16_t* format,
                   const char16_t* const* args, std::size_t arg_count, bool show_controls,
                   std::size_t* length) {
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
        const bool is_text = f[0] == u'%' && f[1] == u's';
        if (is_text) {
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
        if (is_text && show_controls && holds_control(piece, copied)) {
            for (std::size_t i = written; i < written + copied; ++i) {
                dest[i] = is_control(dest[i]) ? stand_in(dest[i]) : dest[i];
            }
        }
        written += copied;
    }
    if (!fit && written > 0 && is_high_surrogate(dest[written - 1])) {
        --written;  // its low half did not fit: never leave half a pair
    }
    dest[written] = u'\0';
    return fit;
}

// Shares room among texts of the given lengths, as format_fitted_list describes; every text
// shortened gets at least room / count units.
void share_room(const std::size_t* lengths, std::size_t count, std::size_t room,
                std::size_t* shares) {
    bool whole[FITTED_TEXTS] = {};
    std::size_t left = count;
    for (bool kept_one = true; kept_one;) {
        kept_one = false;
        for (std::size_t i = 0; i < count; ++i) {
            if (!whole[i] && lengths[i] <= room / left) {
                whole[i] = kept_one = true;
                shares[i] = lengths[i];
                room -= lengths[i];
                --left;
            }
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!whole[i]) {
            shares[i] = room / left;
            room -= shares[i];
            --left;
        }
    }
}

}  // namespace

bool format_text_list(char16_t* dest, std::size_t capacity, const char16_t* format,
                      const char16_t* const* args, std::size_t arg_count, std::size_t* length) {
    return format_pieces(dest, capacity, format, args, arg_count, false, length);
}

bool format_fitted_list(char16_t (&dest)[PATH_UNITS], const char16_t* format,
                        const char16_t* const* args, std::size_t arg_count, std::size_t* length) {
    if (format_pieces(dest, PATH_UNITS, format, args, arg_count, true, length)) {
        return true;
    }
    std::size_t own = 0;
    if (arg_count > FITTED_TEXTS || !format_text_list(dest, PATH_UNITS, format, args, 0, &own) ||
        own + arg_count >= PATH_UNITS) {
        return false;
    }
    std::size_t lengths[FITTED_TEXTS];
    std::size_t shares[FITTED_TEXTS];
    for (std::size_t i = 0; i < arg_count; ++i) {
        lengths[i] = text_length(args[i]);
    }
    share_room(lengths, arg_count, PATH_UNITS - 1 - own, shares);
    char16_t shortened[FITTED_TEXTS][PATH_UNITS];
    const char16_t* texts[FITTED_TEXTS];
    bool fit = true;
    for (std::size_t i = 0; i < arg_count; ++i) {
        texts[i] = args[i];
        if (lengths[i] > shares[i]) {
            std::size_t start = lengths[i] - (shares[i] - 1);
            if (is_low_surrogate(args[i][start])) {
                ++start;  // never half a pair
            }
            fit = fit && format_text(shortened[i], u"\u2026%s", args[i] + start);
            texts[i] = shortened[i];
        }
    }
    return fit && format_pieces(dest, PATH_UNITS, format, texts, arg_count, true, length);
}
