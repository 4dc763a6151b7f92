// The bounded formatter: it says whether the text fit, and never writes past its buffer nor
// leaves half a surrogate pair.
#include "text/text.h"

#include <gtest/gtest.h>

#include <string>

TEST(FormatText, FitsOrSaysSoWithoutOverrunning) {
    char16_t buffer[11] = {};
    buffer[10] = u'#';
    const char16_t* args[] = {u"ab", u"😀"};
    std::size_t length = 99;
    EXPECT_TRUE(format_text_list(buffer, 9, u"%s/%s%%d", args, 2, &length));  // only %s converts
    EXPECT_EQ(std::u16string(buffer, length), u"ab/😀%%d");
    EXPECT_FALSE(
        format_text_list(buffer, 5, u"%s/%s", args, 2, &length));  // the pair would not fit
    EXPECT_EQ(std::u16string(buffer, length), u"ab/");
    EXPECT_FALSE(format_text_list(buffer, 2, u"%s", args + 1, 1, &length));  // nor half alone
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(format_text_list(buffer, 1, u"%s", args, 0, &length));  // no text left: empty
    EXPECT_FALSE(format_text_list(buffer + 10, 0, u"a", args, 0, &length));
    EXPECT_EQ(buffer[10], u'#');
}
