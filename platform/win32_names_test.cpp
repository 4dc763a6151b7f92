// The Win32 name rules, as tables of name -> verdict.
#include "platform/win32_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Win32Names, ReservedDeviceNames) {
    const struct {
        std::u16string name;
        bool reserved;
    } cases[] = {
        {u"Nul", true},          {u"NUL", true},        {u"nul.txt", true},
        {u"Prn", true},          {u"Aux.tar.gz", true}, {u"con", true},
        {u"Lpt1", true},         {u"LPT9.log", true},   {u"Com1", true},
        {u"com0", true},         {u"COM\u00B9", true},  {u"Lpt\u00B3.txt", true},
        {u"Nul .txt", true},     {u"Nul:stream", true}, {u"Nul.", true},
        {u"Nulevoj.txt", false}, {u"Nu", false},        {u"xNul", false},
        {u"Lpt10", false},       {u"Lpt", false},       {u"ComA", false},
        {u"Com\u2074", false},   {u" Nul", false},      {u"", false},
        {u".nul", false},        {u"Con1", false},      {u"Auks", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_reserved_device_name(c.name.c_str()), c.reserved)
            << std::string(c.name.begin(), c.name.end());
    }
}

TEST(Win32Names, EndingsWin32Strips) {
    EXPECT_TRUE(has_stripped_ending(u"Foto."));
    EXPECT_TRUE(has_stripped_ending(u"Foto "));
    EXPECT_TRUE(has_stripped_ending(u".."));
    EXPECT_FALSE(has_stripped_ending(u"Foto"));
    EXPECT_FALSE(has_stripped_ending(u".Foto"));
    EXPECT_FALSE(has_stripped_ending(u""));
}

TEST(Win32Names, LastComponent) {
    EXPECT_EQ(std::u16string(last_component(u"D:\\data\\Foto")), u"Foto");
    EXPECT_EQ(std::u16string(last_component(u"D:/data/Foto.txt")), u"Foto.txt");
    EXPECT_EQ(std::u16string(last_component(u"Foto")), u"Foto");
    EXPECT_EQ(std::u16string(last_component(u"D:\\")), u"");
}

}  // namespace
