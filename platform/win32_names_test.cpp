// The Win32 name rules: which names are reserved devices, and which end as Win32 strips.
#include "platform/win32_names.h"

#include <gtest/gtest.h>

TEST(Win32Names, Table) {
    for (const char16_t* name :
         {u"Nul", u"nul.txt", u"PRN", u"aux.tar.gz", u"con", u"Lpt1", u"LPT9.log", u"com0",
          u"COM\u00B9", u"Com\u00B2", u"Lpt\u00B3.txt", u"Nul .txt", u"Nul:stream", u"Nul."}) {
        EXPECT_TRUE(is_reserved_device_name(name)) << std::u16string(name).size();
    }
    for (const char16_t* name : {u"Nulevoj.txt", u"Nu", u"xNul", u"Lpt10", u"Lpt", u"ComA",
                                 u"Com\u2074", u" Nul", u"", u".nul", u"Con1", u"Foto."}) {
        EXPECT_FALSE(is_reserved_device_name(name)) << std::u16string(name).size();
    }
    for (const char16_t* name : {u"Foto.", u"Foto ", u".", u"Nul."}) {
        EXPECT_TRUE(has_stripped_ending(name));
    }
    EXPECT_FALSE(has_stripped_ending(u"Foto") || has_stripped_ending(u".Foto") ||
                 has_stripped_ending(u""));
}
