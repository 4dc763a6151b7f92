// The bounded formatter: whole results, cut results, and never a write past the buffer.
#include "text/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FormatText, ReplacesEachPercentSAndCopiesAllElse) {
    PathBuffer dest;
    EXPECT_TRUE(format_text(dest, u"%s/%s", u"dir", u"name"));
    EXPECT_EQ(std::u16string(dest), u"dir/name");
    EXPECT_TRUE(format_text(dest, u"100% %d [%s]", u""));
    EXPECT_EQ(std::u16string(dest), u"100% %d []");
}

TEST(FormatText, ReportsWhetherTheTextFit) {
    PathBuffer dest;
    const std::u16string longest(PATH_UNITS - 1, u'a');
    EXPECT_TRUE(format_text(dest, u"%s", longest.c_str()));
    EXPECT_FALSE(format_text(dest, u"%s/", longest.c_str()));
    EXPECT_EQ(std::u16string(dest), longest);  // the prefix that fit, terminated
}

TEST(FormatText, NeverWritesPastTheBufferNorSplitsAPair) {
    char16_t guarded[10] = {};
    guarded[8] = guarded[9] = u'#';
    // The pair would take the seventh and eighth units; the eighth is the terminator's.
    EXPECT_FALSE(format_text_list(guarded, 8, u"abcdef😀xyz", nullptr, 0));
    EXPECT_EQ(std::u16string(guarded), u"abcdef");
    EXPECT_EQ(guarded[8], u'#');
    EXPECT_FALSE(format_text_list(guarded + 9, 0, u"a", nullptr, 0));
    EXPECT_EQ(guarded[9], u'#');
}

}  // namespace
