// The Cyrillic-to-Latin transliteration: the one place that knows which letters the tool maps
// and how each is spelt in Latin.
#pragma once

#include "text/text.h"

// Writes the Latin form of `source` to dest, one code unit at a time: each of the 33 letters of
// the Russian alphabet, capital and small (А-я, Ё, ё), becomes its Latin text, every other unit
// is copied unchanged. Й, й, Ё and ё stored decomposed (И, и, Е or е and U+0306 or U+0308) count
// as one letter, mark and all.
// The capitals Ж Ч Ш Щ Ю Я are spelt in capitals ("ZH") unless the very next unit of the source
// is a small letter а-я, which makes them "Zh".
//
// Returns the changed flag: true exactly when the source holds at least one letter of the table,
// whether or not the result fit. *fit tells whether the whole result fit dest; when it is false,
// dest holds a terminated prefix that must not be acted on.
bool latinize_name(const char16_t* source, char16_t (&dest)[PATH_UNITS], bool* fit);
