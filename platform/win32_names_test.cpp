// The Windows rules as tables: device names, stripped endings, reparse tags, NT statuses, the typed
// root, and the root's handle in its parent.
#include "platform/win32_names.h"

#include <gtest/gtest.h>

TEST(Win32Names, Table) {
    for (const char16_t* name : {u"Nul", u"nul.txt", u"PRN", u"aux.tar.gz", u"con", u"Lpt1",
                                 u"LPT9.log", u"com0", u"COM\u00B9", u"Com\u00B2", u"Lpt\u00B3.txt",
                                 u"Nul .txt", u"Nul:stream", u"Nul.", u"CONIN$", u"conout$"}) {
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

TEST(Win32Names, OnlyNameSurrogatesAndUntaggedReparsePointsAreLinks) {
    // Symbolic link, junction, WSL link, no tag (Wine's Unix link).
    for (const std::uint32_t tag : {0xA000000Cu, 0xA0000003u, 0xA000001Du, 0u}) {
        EXPECT_TRUE(is_link_reparse_tag(tag)) << std::hex << tag;
    }
    // OneDrive (cloud, cloud-1 to -F), deduplication, ProjFS, Windows container isolation.
    for (const std::uint32_t tag :
         {0x9000001Au, 0x9000101Au, 0x9000F01Au, 0x80000013u, 0x9000001Cu, 0x80000018u}) {
        EXPECT_FALSE(is_link_reparse_tag(tag)) << std::hex << tag;
    }
}

TEST(Win32Names, StatusesTellTheWalk) {
    EXPECT_TRUE(listing_has_ended(0x80000006, false));  // no more files
    EXPECT_TRUE(listing_has_ended(0xC000000F, true));   // an empty FAT root
    EXPECT_FALSE(listing_has_ended(0xC000000F, false));
    EXPECT_FALSE(listing_has_ended(0xC0000022, true));
    EXPECT_EQ(outcome_of_status(0xC0000043), Outcome::in_use);  // a sharing violation
    EXPECT_EQ(outcome_of_status(0xC0000001), Outcome::failed);
}

TEST(Win32Names, AQuoteThatEndsTheRootIsTheBackslashTyped) {
    const std::pair<std::u16string, std::u16string> table[] = {
        {u"D:\\My photos\"", u"D:\\My photos\\"},
        {u"D:\"", u"D:\\"},
        {u"\"", u"\\"},
        {u"D:\\x\" \t ", u"D:\\x\\"},
        {u"a\"b", u"a\"b"},
        {u"Архив ", u"Архив "},
        {u"", u""}};
    for (auto [typed, mended] : table) {
        mend_typed_root(typed.data());
        EXPECT_EQ(typed.c_str(), mended);
    }
}

// What Win32 opens as a device is never taken for a directory.
TEST(Win32Names, DevicesAreNoDirectories) {
    for (const char16_t* path : {u"nul", u"AUX", u"COM1", u"NUL.txt", u"\\\\.\\C:", u"D:\\x\\nul",
                                 u"C:con", u"x/Conin$"}) {
        EXPECT_TRUE(names_device(path)) << std::u16string(path).size();
    }
    for (const char16_t* path :
         {u"\\\\?\\D:\\x\\nul", u"Nulevoj", u"D:\\nul\\x", u".", u"\\a.\\b"}) {
        EXPECT_FALSE(names_device(path)) << std::u16string(path).size();
    }
}

// A root opened in its parent is the entry it names only when the system names it there.
TEST(Win32Names, AnEntryOpenedInItsParentIsTheNameInIt) {
    const auto entry_of = [](std::u16string entry, std::u16string parent, const char16_t* name) {
        return is_entry_of(entry.data(), entry.size(), parent.data(), parent.size(), name);
    };
    EXPECT_TRUE(entry_of(u"\\L\\Далеко", u"\\L", u"Далеко"));
    EXPECT_TRUE(entry_of(u"\\Жёлтый", u"\\", u"ЖЁЛТЫЙ"));
    EXPECT_TRUE(entry_of(u"\\L\\Zz", u"\\L", u"zZ"));
    EXPECT_FALSE(entry_of(u"\\L\\out", u"\\L", u"Ссылка"));
    EXPECT_FALSE(entry_of(u"\\L\\far\\away", u"\\L", u"far"));
    EXPECT_FALSE(entry_of(u"\\Lx\\away", u"\\L", u"x\\away"));
    EXPECT_FALSE(entry_of(u"\\M\\a", u"\\L", u"a"));
    EXPECT_FALSE(entry_of(u"\\Ab", u"\\", u"Ac"));
}

TEST(Win32Names, ARootIsReadAsItsStoredNameOnlyWhereWin32ReadsItSo) {
    EXPECT_TRUE(may_read_as(u"ЖЁЛТЫЙ", u"Жёлтый"));
    EXPECT_TRUE(may_read_as(u"архив. .", u"Архив"));
    EXPECT_TRUE(may_read_as(u"____~JLM", u"Жёлтый"));
    EXPECT_FALSE(may_read_as(u"Ссылка", u"out"));
    EXPECT_FALSE(may_read_as(u"Тёлтый", u"Жёлтый"));
    EXPECT_FALSE(may_read_as(u"Архив", u"Архивы"));
    EXPECT_FALSE(may_read_as(u"Архивы", u"Архив"));
}
