// Byte names <-> UTF-16 as one table: strict UTF-8 at each of its boundaries, every byte of
// anything else carried as a lone surrogate, and the very same bytes back.
#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

TEST(Utf8, Table) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"ab€abc€\xc2\x80\xc2\x80\xc2\x80\xc2\x80 \xdf\xbf \xe0\xa0\x80 \xe1\x80\x80 \xed\x9f\xbf "
         "\xee\x80\x80 😀\xef\xbf\xbd",
         u"ab€abc€\u0080\u0080\u0080\u0080 \u07FF \u0800 \u1000 \uD7FF \uE000 😀\uFFFD"},
        {"Москва 😀 \xf0\x90\x80\x80 \xf3\xbf\xbf\xbf \xf4\x8f\xb0\x80 \xf4\x8f\xbf\xbf",
         u"Москва 😀 \U00010000 \U000FFFFF \U0010FC00 \U0010FFFF"},
        // Cut short, not continued, overlong, an encoded surrogate, past U+10FFFF.
        {"\xff\xd0\x9c a\xd0 \xe2\x82!", u"\xDCFFМ a\xDCD0 \xDCE2\xDC82!"},
        {"\xc0\xaf \xe0\x80\x80 \xf0\x8f\xbf\xbf",
         u"\xDCC0\xDCAF \xDCE0\xDC80\xDC80 \xDCF0\xDC8F\xDCBF\xDCBF"},
        {"\xed\xa0\x80 \xed\xbf\xbf \xf4\x90\x80\x80",
         u"\xDCED\xDCA0\xDC80 \xDCED\xDCBF\xDCBF \xDCF4\xDC90\xDC80\xDC80"},
        // The edges of each lead: a lone continuation, C1, F5, and E0's overlong end.
        {"\x80\xc1\xbf\xf5\x80\x80\x80 \xe0\x9f\xbf",
         u"\xDC80\xDCC1\xDCBF\xDCF5\xDC80\xDC80\xDC80 \xDCE0\xDC9F\xDCBF"},
    };
    char16_t units[64] = {};
    char bytes[128];
    std::size_t count = 0;
    for (const auto& [utf8, text] : cases) {
        EXPECT_TRUE(utf8_to_utf16(utf8.data(), utf8.size(), units, std::size(units), &count));
        EXPECT_EQ(std::u16string(units, count), text);
        EXPECT_TRUE(utf16_to_utf8(text.data(), text.size(), bytes, sizeof bytes, &count));
        EXPECT_EQ(std::string(bytes, count), utf8);
        EXPECT_EQ(holds_escaped_bytes(units),
                  &text != &cases[0].second && &text != &cases[1].second);
    }
    EXPECT_FALSE(holds_escaped_bytes(u"\xD800\xDC80 \xDC7F \xDD00 \xDBFF\xDBFF\xDC80"));
    EXPECT_TRUE(holds_escaped_bytes(u"a\xDC80") && holds_escaped_bytes(u"\xD7FF\xDC80") &&
                holds_escaped_bytes(u"\xDC00\xDCFF"));
    // A buffer too small is refused, and never written past.
    units[3] = u'#';
    EXPECT_FALSE(utf8_to_utf16("Мир", 6, units, 3, &count));
    EXPECT_EQ(std::u16string(units), u"Ми");
    EXPECT_FALSE(utf8_to_utf16("abc", 3, units, 3, &count));
    EXPECT_EQ(std::u16string(units), u"ab");
    EXPECT_EQ(units[3], u'#');
    EXPECT_TRUE(utf8_to_utf16("", 0, units, 1, &count) && count == 0);  // room for nothing
    EXPECT_TRUE(utf16_to_utf8(u"€", 1, bytes, utf8_capacity_for(1), &count));
    EXPECT_FALSE(utf16_to_utf8(u"€", 1, bytes, 3, &count));
    EXPECT_FALSE(utf16_to_utf8(u"€", 1, nullptr, 0, &count));
    // ASCII after a wider character, up to the last byte and past it; a lone high surrogate.
    EXPECT_TRUE(utf16_to_utf8(u"€abc", 4, bytes, 8, &count) && count == 6);
    EXPECT_FALSE(utf16_to_utf8(u"€abc", 4, bytes, 6, &count));
    EXPECT_FALSE(utf16_to_utf8(u"abcdefgh", 8, bytes, 4, &count));
    EXPECT_EQ(std::string(bytes), "abc");
    // No escapes, nor a pair past the units given: their own three-byte forms.
    EXPECT_TRUE(utf16_to_utf8(u"\xDC7F\xDD00\xDC00\xDC00\xD800\xDC00", 5, bytes, 16, &count));
    EXPECT_EQ(std::string(bytes, count),
              "\xed\xb1\xbf\xed\xb4\x80\xed\xb0\x80\xed\xb0\x80\xed\xa0\x80");
    EXPECT_TRUE(utf16_to_utf8(u"\xD800z\xD800\xFFFD\xD800\xE000", 6, bytes, 17, &count));
    EXPECT_EQ(std::string(bytes, count),
              "\xed\xa0\x80z\xed\xa0\x80\xef\xbf\xbd\xed\xa0\x80\xee\x80\x80");
}
