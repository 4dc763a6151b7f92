// Lossless conversion between byte-string names and UTF-16, for platforms whose names and
// arguments are bytes. Valid UTF-8 becomes UTF-16 as usual; every byte of an invalid sequence
// becomes one lone surrogate U+DC80-U+DCFF, which encodes back to that very byte. Any byte string
// thus decodes and encodes back to exactly itself.
#pragma once

#include <cstddef>

// Decodes `length` bytes into dest, a buffer of `capacity` units, and terminates it. Returns true
// when all of it fit with the terminator, with the unit count in *units. Returns false when it
// did not (or capacity is 0): dest then holds a terminated prefix of whole characters.
bool utf8_to_utf16(const char* bytes, std::size_t length, char16_t* dest, std::size_t capacity,
                   std::size_t* units);

// Encodes `units` code units into dest, a buffer of `capacity` bytes, and terminates it. A lone
// surrogate U+DC80-U+DCFF becomes the byte it stands for; any other lone surrogate is written as
// its three-byte form. Returns true when all of it fit with the terminator, with the byte count
// in *length; false otherwise, with dest terminated after the whole characters that fit.
bool utf16_to_utf8(const char16_t* text, std::size_t units, char* dest, std::size_t capacity,
                   std::size_t* length);

// True when text holds a lone surrogate U+DC80-U+DCFF: a byte that utf8_to_utf16 carried
// because it was no valid UTF-8.
bool holds_escaped_bytes(const char16_t* text);

// Bytes utf16_to_utf8 needs at most for a text of `units` code units and its terminator.
inline constexpr std::size_t utf8_capacity_for(std::size_t units) {
    return units * 3 + 1;
}
