// The Windows platform layer on its own, under Windows or Wine: what a listing holds in place and
// which moves it refuses.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace {

const char16_t* text(const std::wstring& path) {
    return reinterpret_cast<const char16_t*>(path.c_str());
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Win32Platform : public ::testing::Test {
  protected:
    void SetUp() override {
        // A directory of this test's own: an earlier run may have left one with any given name.
        const std::wstring base = std::filesystem::temp_directory_path().wstring() +
                                  L"kirlatin-test-" + std::to_wstring(GetCurrentProcessId());
        for (unsigned attempt = 0; root_.empty() && attempt < 1000; ++attempt) {
            const std::wstring candidate = base + L"-" + std::to_wstring(attempt);
            if (CreateDirectoryW(candidate.c_str(), nullptr)) {
                root_ = candidate;
            }
        }
        ASSERT_FALSE(root_.empty());
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    std::wstring at(const wchar_t* name) const { return root_ + L"\\" + name; }
    void make_file(const wchar_t* name) const {
        const HANDLE file = CreateFileW(at(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }

    std::wstring root_;
};

// While its listing is open, a directory can be neither renamed nor removed, so the path the walk
// composes names the directory it checked until the listing ends.
TEST_F(Win32Platform, ListingHoldsItsDirectoryInPlace) {
    ASSERT_TRUE(CreateDirectoryW(at(L"held").c_str(), nullptr));
    make_file(L"held\\inside.txt");

    DirListing listing;
    DirEntry entry;
    ASSERT_TRUE(listing_first(text(at(L"held\\*.*")), LinkPolicy::refuse, &listing, &entry));
    EXPECT_EQ(std::u16string(entry.name), u"inside.txt");
    EXPECT_FALSE(entry.is_directory);
    EXPECT_FALSE(MoveFileExW(at(L"held").c_str(), at(L"moved").c_str(), 0));
    EXPECT_FALSE(RemoveDirectoryW(at(L"held").c_str()));
    EXPECT_FALSE(listing_next(&listing, &entry));
    listing_close(&listing);
    // "held." is another name, which Win32 would read as "held".
    EXPECT_FALSE(listing_first(text(at(L"held.\\*.*")), LinkPolicy::refuse, &listing, &entry));

    EXPECT_TRUE(move_without_replacing(text(at(L"held")), text(at(L"moved"))));
    EXPECT_TRUE(exists(at(L"moved\\inside.txt")));
}

TEST_F(Win32Platform, MovesOnlyToTheNameItSpells) {
    make_file(L"Море.txt");
    make_file(L"Other.txt");
    for (const wchar_t* target : {L"Nul", L"nul.txt", L"Lpt1.log", L"Com\u00B2", L"More.", L"More ",
                                  L"Other.txt", L"OTHER.TXT"}) {
        EXPECT_FALSE(move_without_replacing(text(at(L"Море.txt")), text(at(target))));
        EXPECT_TRUE(exists(at(L"Море.txt")));
    }
    // Win32 would read "Море.txt." as "Море.txt": a move from a name that is not there.
    EXPECT_FALSE(move_without_replacing(text(at(L"Море.txt.")), text(at(L"Moved.txt"))));
    EXPECT_FALSE(exists(at(L"Moved.txt")));
    EXPECT_TRUE(move_without_replacing(text(at(L"Море.txt")), text(at(L"More.txt"))));
    EXPECT_FALSE(exists(at(L"Море.txt")));
    EXPECT_TRUE(exists(at(L"More.txt")));
    EXPECT_TRUE(exists(at(L"Other.txt")));
}

}  // namespace
