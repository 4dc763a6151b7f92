// The bounded formatter: it says whether the text fit, and never writes past its buffer nor
// leaves half a surrogate pair.
#include "text/text.h"

#include <gtest/gtest.h>

#include <string>

TEST(FormatText, FitsOrSaysSoWithoutOverrunning) {
    char16_t buffer[11] = {};
    buffer[10] = u'#';
    const char16_t* args[] = {u"ab", u"😀"};
    EXPECT_TRUE(format_text_list(buffer, 9, u"%s/%s%%d", args, 2));  // only %s converts
    EXPECT_EQ(std::u16string(buffer), u"ab/😀%%d");
    EXPECT_FALSE(format_text_list(buffer, 5, u"%s/%s", args, 2));  // the pair would not fit whole
    EXPECT_EQ(std::u16string(buffer), u"ab/");
    EXPECT_TRUE(format_text_list(buffer, 1, u"%s", args, 0));  // no text left: an empty one
    EXPECT_FALSE(format_text_list(buffer + 10, 0, u"a", args, 0));
    EXPECT_EQ(buffer[10], u'#');
}
