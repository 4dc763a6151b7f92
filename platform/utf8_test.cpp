// Byte names <-> UTF-16: strict UTF-8, and an exact round trip for every byte string.
#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::u16string decode(const std::string& bytes) {
    char16_t units[700];
    std::size_t count = 0;
    EXPECT_TRUE(utf8_to_utf16(bytes.data(), bytes.size(), units, std::size(units), &count));
    return std::u16string(units, count);
}

std::string encode(const std::u16string& text) {
    char bytes[2000];
    std::size_t length = 0;
    EXPECT_TRUE(utf16_to_utf8(text.data(), text.size(), bytes, sizeof bytes, &length));
    return std::string(bytes, length);
}

TEST(Utf8, ValidTextAndEachInvalidByteAsALoneSurrogate) {
    const struct {
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"Москва €😀", u"Москва €😀"},
        {"\xff\xd0\x9c", u"\xDCFFМ"},
        {"a\xd0", u"a\xDCD0"},                              // cut short
        {"\xc0\xaf", u"\xDCC0\xDCAF"},                      // overlong
        {"\xed\xa0\x80", u"\xDCED\xDCA0\xDC80"},            // an encoded surrogate
        {"\xf4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // past U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decode(c.bytes), c.text);
        EXPECT_EQ(encode(c.text), c.bytes);
    }
}

TEST(Utf8, AnyBytesRoundTripExactly) {
    std::mt19937 random(20261206);
    const char* pieces[] = {"\xd0\x96", "\xf0\x9f\x98\x80", "\xe2\x82\xac", "\xed\xb2\x80", "\xc3"};
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        for (int i = static_cast<int>(random() % 100); i > 0; --i) {
            // Random bytes mixed with valid and nearly valid sequences.
            bytes +=
                random() % 2 ? std::string(1, static_cast<char>(random())) : pieces[random() % 5];
        }
        ASSERT_EQ(encode(decode(bytes)), bytes);
    }
}

}  // namespace
