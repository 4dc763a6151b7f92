// Fixed-size UTF-16 text: the one buffer size every part of the tool shares, and the bounded
// formatter through which every path and every message is composed.
#pragma once

#include <cstddef>

// Code units in every path, name and message buffer, the terminator included. A text of up to
// PATH_UNITS - 1 units fits; a longer one is never acted on.
inline constexpr std::size_t PATH_UNITS = 260;

using PathBuffer = char16_t[PATH_UNITS];

inline constexpr bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

inline constexpr bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The capital of a Latin or Russian small letter; any other unit as it is.
inline constexpr char16_t capital_of(char16_t unit) {
    return (unit >= u'a' && unit <= u'z') || (unit >= u'а' && unit <= u'я')
               ? static_cast<char16_t>(unit - 0x20)
           : unit >= u'ѐ' && unit <= u'џ' ? static_cast<char16_t>(unit - 0x50)
                                          : unit;
}

// True when a and b are the same text but for the letter case of Latin and Russian letters,
// which every volume that ignores letter case folds alike.
bool same_but_letter_case(const char16_t* a, const char16_t* b);

// Units before the terminator.
std::size_t text_length(const char16_t* text);

// Writes `format` to dest, a buffer of `capacity` units, with every "%s" replaced by the next of
// the `arg_count` texts in args (an empty text once they run out); every other unit is copied as
// it stands. Returns true when the whole result fit with its terminator. Returns false when it
// did not (or capacity is 0): dest then holds the longest prefix that fits and does not end
// between the two halves of a surrogate pair. dest is always terminated when capacity > 0, and
// nothing is ever written past dest[capacity - 1]. *length receives the units before the
// terminator.
bool format_text_list(char16_t* dest, std::size_t capacity, const char16_t* format,
                      const char16_t* const* args, std::size_t arg_count, std::size_t* length);

template <std::size_t N, typename... Texts>
bool format_text(char16_t (&dest)[N], const char16_t* format, const Texts*... texts) {
    const char16_t* args[] = {texts..., nullptr};
    std::size_t length = 0;
    return format_text_list(dest, N, format, args, sizeof...(texts), &length);
}

// The most "%s" texts format_fitted_list takes.
inline constexpr std::size_t FITTED_TEXTS = 4;

// Formats a line for people: as format_text_list does into dest, but with each control character
// of the texts (U+0000-U+001F, U+007F-U+009F) shown as a visible stand-in, one unit for one: its
// control picture U+2400-U+241F, U+2421 for U+007F, and U+FFFD for U+0080-U+009F. So one text
// never breaks a line in two and never reaches a terminal as an escape; the format's own units,
// its line feed among them, stay as they are. A result too long for dest is made to fit: each text
// is shortened from the left, behind a "…" (U+2026), to its share of the room that the format's
// own units leave. The shares are equal, but a text shorter than its share keeps it whole and
// leaves the rest to the others, and the later texts take the odd units, so that a line still
// ends with the end of its last text. A shortened text never starts with the second half of a
// surrogate pair. Returns false only when there are more than FITTED_TEXTS texts, or the format's
// own units and a unit per text do not fit; dest is then terminated, but holds no whole line.
bool format_fitted_list(char16_t (&dest)[PATH_UNITS], const char16_t* format,
                        const char16_t* const* args, std::size_t arg_count, std::size_t* length);
