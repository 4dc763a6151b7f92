// The bounded formatter: it says whether the text fit, and never writes past its buffer nor
// leaves half a surrogate pair.
#include "text/text.h"

#include <gtest/gtest.h>

#include <string>

TEST(FormatText, FitsOrSaysSoWithoutOverrunning) {
    char16_t buffer[11] = {};
    buffer[10] = u'#';
    const char16_t* args[] = {u"ab", u"\U00010000", u"\U0010FFFF"};  // the first and last pair
    std::size_t length = 99;
    EXPECT_TRUE(format_text_list(buffer, 9, u"%s/%s%%d", args, 2, &length));  // only %s converts
    EXPECT_EQ(std::u16string(buffer, length), u"ab/\U00010000%%d");
    EXPECT_FALSE(format_text_list(buffer, 5, u"%s/%s", args, 2, &length));  // no room for a pair
    EXPECT_EQ(std::u16string(buffer, length), u"ab/");
    EXPECT_FALSE(format_text_list(buffer, 3, u"x\xD7FFy", args, 0, &length));  // no half of any
    EXPECT_EQ(length, 2u);
    EXPECT_FALSE(format_text_list(buffer, 2, u"%s", args + 2, 1, &length));  // nor half alone
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(format_text_list(buffer, 1, u"%s", args, 0, &length));  // no text left: empty
    EXPECT_FALSE(format_text_list(buffer + 10, 0, u"a", args, 0, &length));
    EXPECT_EQ(buffer[10], u'#');
}

TEST(FormatText, FittedLinesKeepTheirOwnUnitsAndTheEndsOfTheirTexts) {
    const std::u16string a = std::u16string(299, u'a') + u"A", b = std::u16string(299, u'b') + u"B";
    const char16_t* args[] = {u"short", a.c_str(), b.c_str(), u"", u""};
    PathBuffer line;
    std::size_t length = 0;
    EXPECT_TRUE(format_fitted_list(line, u"%s: %s > %s", args, 3, &length));  // b has the odd unit
    EXPECT_EQ(std::u16string(line, length), u"short: …" + a.substr(177) + u" > …" + b.substr(176));
    const std::u16string own(257, u'x');
    EXPECT_TRUE(format_fitted_list(line, (own + u"%s%s").c_str(), args + 1, 2, &length));
    EXPECT_EQ(std::u16string(line, length), own + u"……");
    EXPECT_FALSE(format_fitted_list(line, (own + u"x%s%s").c_str(), args + 1, 2, &length));
    EXPECT_TRUE(format_fitted_list(line, u"%s%s%s%s", args, 4, &length) &&
                !format_fitted_list(line, u"%s%s%s%s%s", args, 5, &length));
    // A cut never keeps the low half of a pair without its high half; units beside are no half.
    for (const char16_t* pair : {u"\xD800\xDFFF", u"\xDBFF\xDC00", u"\xD7FF\xE000"}) {
        std::u16string pairs;
        for (int i = 0; i < 150; ++i) {
            pairs += pair;
        }
        const char16_t* pair_args[] = {pairs.c_str()};
        EXPECT_TRUE(format_fitted_list(line, u"%s!", pair_args, 1, &length));
        EXPECT_EQ(line[0], u'…');
        EXPECT_EQ(std::u16string(line + 1, length - 1),
                  pairs.substr(pair[0] == 0xD7FF ? 43 : 44) + u"!");
    }
}

TEST(FormatText, FittedLinesShowControlCharactersAsStandIns) {
    const std::u16string controls = u"\x01\x09\x0A\x1B\x1F\x20\x7E\x7F\x80\x9F\xA0";
    const std::u16string shown = u"\u2401\u2409\u240A\u241B\u241F\x20\x7E\u2421\uFFFD\uFFFD\xA0";
    const std::u16string long_text = std::u16string(300, u'a') + u"\n";
    const char16_t* args[] = {controls.c_str(), long_text.c_str()};
    PathBuffer line;
    std::size_t length = 0;
    // The format's own line feed stays; a text's control characters never reach the line.
    EXPECT_TRUE(format_fitted_list(line, u"<%s>\n", args, 1, &length));
    EXPECT_EQ(std::u16string(line, length), u"<" + shown + u">\n");
    EXPECT_TRUE(format_fitted_list(line, u"%s\n", args + 1, 1, &length));
    EXPECT_EQ(std::u16string(line, length), u"…" + std::u16string(256, u'a') + u"\u240A\n");
    // Paths are composed as they stand.
    PathBuffer path;
    EXPECT_TRUE(format_text(path, u"%s", controls.c_str()));
    EXPECT_EQ(std::u16string(path, controls.size()), controls);
}

TEST(Text, LetterCaseIsFoldedForLatinAndRussianLettersAlone) {
    EXPECT_TRUE(same_but_letter_case(u"ЖЁЛТЫЙ ѐ ZAЯ", u"жёлтый Ѐ zaя"));
    EXPECT_FALSE(same_but_letter_case(u"Жёлтый1", u"Жёлтый"));
    EXPECT_FALSE(same_but_letter_case(u"елка", u"ёлка"));
    EXPECT_FALSE(same_but_letter_case(u"Ǆ@", u"ǆ`"));  // neither Latin nor Russian: as they are
}
