// The transliteration table and its single rule of case.
#include "latinize/latinize.h"

namespace {

constexpr char16_t FIRST_UPPER = u'А';  // U+0410
constexpr char16_t FIRST_LOWER = u'а';  // U+0430
constexpr char16_t LAST_LOWER = u'я';   // U+044F
constexpr char16_t UPPER_YO = u'Ё';     // U+0401
constexpr char16_t LOWER_YO = u'ё';     // U+0451

// А to Я in code order. The two-letter capitals are the digraph letters of the case rule.
constexpr const char16_t* UPPER[32] = {
    u"A", u"B",  u"V",  u"G",  u"D", u"E", u"ZH", u"Z", u"I",  u"J",  u"K",
    u"L", u"M",  u"N",  u"O",  u"P", u"R", u"S",  u"T", u"U",  u"F",  u"H",
    u"C", u"CH", u"SH", u"SH", u"'", u"Y", u"'",  u"E", u"YU", u"YA",
};

// а to я in code order.
constexpr const char16_t* LOWER[32] = {
    u"a", u"b",  u"v",  u"g",  u"d", u"e", u"zh", u"z", u"i",  u"j",  u"k",
    u"l", u"m",  u"n",  u"o",  u"p", u"r", u"s",  u"t", u"u",  u"f",  u"h",
    u"c", u"ch", u"sh", u"sh", u"'", u"y", u"'",  u"e", u"yu", u"ya",
};

// The Latin text of a table letter, or nullptr for a unit outside the table.
const char16_t* latin_of(char16_t unit) {
    if (unit >= FIRST_UPPER && unit < FIRST_LOWER) {
        return UPPER[unit - FIRST_UPPER];
    }
    if (unit >= FIRST_LOWER && unit <= LAST_LOWER) {
        return LOWER[unit - FIRST_LOWER];
    }
    if (unit == UPPER_YO) {
        return u"E";
    }
    if (unit == LOWER_YO) {
        return u"e";
    }
    return nullptr;
}

bool is_small_letter(char16_t unit) {
    return unit >= FIRST_LOWER && unit <= LAST_LOWER;
}

constexpr char16_t COMBINING_BREVE = 0x0306;
constexpr char16_t COMBINING_DIAERESIS = 0x0308;

// The letter that `unit` and the `mark` after it make where a name stores it decomposed, as macOS
// file systems store й and ё; 0 for any other pair.
char16_t composed(char16_t unit, char16_t mark) {
    if (mark == COMBINING_BREVE && (unit == u'И' || unit == u'и')) {
        return static_cast<char16_t>(unit + 1);  // Й, й
    }
    if (mark == COMBINING_DIAERESIS && unit == u'Е') {
        return UPPER_YO;
    }
    return mark == COMBINING_DIAERESIS && unit == u'е' ? LOWER_YO : 0;
}

// Appends one unit while there is room for it and the terminator.
bool append(char16_t (&dest)[PATH_UNITS], std::size_t* length, char16_t unit) {
    if (*length + 1 >= PATH_UNITS) {
        return false;
    }
    dest[(*length)++] = unit;
    return true;
}

}  // namespace

bool latinize_name(const char16_t* source, char16_t (&dest)[PATH_UNITS], bool* fit) {
    std::size_t length = 0;
    bool changed = false;
    bool fits = true;
    for (const char16_t* s = source; *s != u'\0'; ++s) {
        if (*s < COMBINING_BREVE) {  // below every letter of the table and every mark: as it is
            fits = fits && append(dest, &length, *s);
            continue;
        }
        char16_t letter = composed(s[0], s[1]);
        if (letter != 0) {
            ++s;  // the mark is part of the letter
        } else {
            letter = *s;
        }
        const char16_t* latin = latin_of(letter);
        if (latin == nullptr) {
            fits = fits && append(dest, &length, *s);
            continue;
        }
        changed = true;
        // Only the very next unit of the source decides: "Zh" before а-я, "ZH" otherwise. Of the
        // letters, only capitals (Ё among them) lie below а; a capital spelt with one letter has no
        // second letter to follow the rule.
        const bool capital_then_small = letter < FIRST_LOWER && is_small_letter(s[1]);
        for (const char16_t* l = latin; *l != u'\0'; ++l) {
            char16_t unit = *l;
            if (capital_then_small && l != latin) {
                unit = static_cast<char16_t>(unit - u'A' + u'a');
            }
            fits = fits && append(dest, &length, unit);
        }
    }
    if (!fits && length > 0 && is_high_surrogate(dest[length - 1])) {
        --length;
    }
    dest[length] = u'\0';
    *fit = fits;
    return changed;
}
