// The Linux and macOS file-system services themselves, in a temporary directory, as an ordinary
// user: a directory moved in a wide directory, each outcome of a move and an open, what a move
// cut short left, and, run once more with the stand-in for an older file system preloaded,
// listings and the fallback moves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "platform/platform.h"

// The bytes the heap holds in use; 0 where the C library does not tell (musl).
#if defined(__GLIBC__)
#include <malloc.h>
#define heap_in_use() mallinfo2().uordblks
#else
#define heap_in_use() static_cast<std::size_t>(0)
#endif

namespace fs = std::filesystem;

namespace {

constexpr Outcome done = Outcome::done, taken = Outcome::name_taken;

// Where a move is expected to leave an entry: its new name and the outcome; it leaves nothing
// else.
using Expected = std::pair<std::string, Outcome>;

class Posix : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = fs::temp_directory_path() / "kirlatin-platform-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        ASSERT_EQ(open_root_path(root.u16string().c_str(), &dir), Outcome::done);
    }
    void TearDown() override {
        close_directory(dir);
        fs::remove_all(root);
    }
    // Makes each of the names, split at spaces: "a" a file that holds its name, "a=" an empty
    // one, "a/" a directory, "a@b" a link to b.
    void make(const std::string& names) {
        std::istringstream in(names);
        for (std::string name; in >> name;) {
            const std::size_t at = name.find('@');
            fs::create_directories((root / name).parent_path());
            if (at != std::string::npos) {
                fs::create_symlink(name.substr(at + 1), root / name.substr(0, at));
            } else if (name.back() == '/') {
                fs::create_directory(root / name);
            } else {
                std::ofstream(root / name.substr(0, name.find('=')))
                    << (name.back() == '=' ? "" : name);
            }
        }
    }
    // What stands in the directory, sorted and split by spaces, in make's notation: each file
    // with "=" and what it holds.
    std::string left() {
        std::set<std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string name = entry.path().lexically_relative(root);
            std::ifstream in(entry.path());
            entries.insert(entry.is_symlink() ? name + "@" + fs::read_symlink(entry).string()
                           : entry.is_directory()
                               ? name + "/"
                               : name + "=" + std::string(std::istreambuf_iterator<char>(in), {}));
        }
        std::string joined;
        for (const std::string& entry : entries) {
            joined += (joined.empty() ? "" : " ") + entry;
        }
        return joined;
    }
    Outcome move(const char16_t* from, const char16_t* to, EntryKind kind = EntryKind::other) {
        return move_without_replacing(dir, from, to, kind, &leftover);
    }
    // Lists the directory afresh and moves each entry as it is listed, as the walk does, to the
    // new name `moves` gives it; checks what each move returns and leaves.
    void move_as_listed(const std::map<std::string, Expected>& moves) {
        close_directory(dir);
        ASSERT_EQ(open_root_path(root.u16string().c_str(), &dir), Outcome::done);
        for (DirEntry entry; read_entry(dir, &entry) == Listing::entry;) {
            const auto found = moves.find(fs::path(entry.name).string());
            if (found != moves.end()) {
                const auto& [latin, outcome] = found->second;
                EXPECT_EQ(move(entry.name, fs::path(latin).u16string().c_str(), entry.kind),
                          outcome)
                    << found->first;
                EXPECT_EQ(leftover, Leftover::none) << found->first;
            }
        }
    }

    fs::path root;
    Directory* dir = nullptr;
    Leftover leftover = Leftover::none;
};

// Makes the note of moves onto claims that a run killed in mid-move leaves in root, stamped or,
// killed at once, not. Returns its name.
std::string note(const fs::path& root, bool stamped = true) {
    const timespec times[2] = {{0, UTIME_OMIT}, {stamped ? 946782246 : 0, 0}};
    fs::create_directory(root / ".kirlatin-moves");
    utimensat(AT_FDCWD, (root / ".kirlatin-moves").c_str(), times, 0);
    return ".kirlatin-moves";
}

}  // namespace

// Linux file systems place a new name by its hash: of many directories renamed while listed,
// some land ahead of the listing, which must pass each over. What the directory noted of them is
// freed with it: a walk of a million entries holds only the directories it is in. A note of a
// move a killed run finished is never listed, and is removed once the listing is over.
TEST_F(Posix, ADirectoryMovedDuringItsParentsListingIsNeverListedAgain) {
    for (int i = 0; i < 3000; ++i) {
        fs::create_directory(root / ("Каталог" + std::to_string(i)));
    }
    const std::string finished = note(root);
    const std::size_t held = heap_in_use();
    int walked = 0;
    for (DirEntry entry; read_entry(dir, &entry) == Listing::entry; ++walked) {
        ASSERT_EQ(entry.name[0], u'К');
        const std::u16string latin = u"Katalog-" + std::u16string(entry.name + 7);
        ASSERT_EQ(move(entry.name, latin.c_str(), EntryKind::directory), Outcome::done);
    }
    EXPECT_EQ(walked, 3000);
    EXPECT_FALSE(fs::exists(root / finished));
    close_directory(dir);
    EXPECT_LT(heap_in_use(), held + 4096);
    ASSERT_EQ(open_root_path(root.u16string().c_str(), &dir), Outcome::done);
}

TEST_F(Posix, AMoveRenamesTheEntryItselfOrChangesNothingAndBelowTheRootNoLinkIsFollowed) {
    make("Файл Занято Taken Папка/ Full/inside Ссылка@Full");
    EXPECT_EQ(move(u"Файл", u"Fajl"), Outcome::done);
    EXPECT_EQ(move(u"Ссылка", u"Ssylka", EntryKind::link), Outcome::done);
    EXPECT_EQ(move(u"Папка", u"Papka", EntryKind::directory), Outcome::done);
    EXPECT_EQ(move(u"Занято", u"Taken"), Outcome::name_taken);
    EXPECT_EQ(move(u"Papka", u"Full", EntryKind::directory), Outcome::name_taken);
    EXPECT_EQ(move(u"Fajl", std::u16string(200, u'ж').c_str()), Outcome::path_too_long);
    EXPECT_EQ(left(),
              "Fajl=Файл Full/ Full/inside=Full/inside Papka/ Ssylka@Full Taken=Taken "
              "Занято=Занято");
    Directory* opened = nullptr;
    EXPECT_NE(open_directory(dir, u"Ssylka", &opened), Outcome::done);  // gone, or link
    EXPECT_EQ(open_directory(dir, u"Fajl", &opened), Outcome::gone);
    ASSERT_EQ(open_root(dir, u"Ssylka", &opened), Outcome::done);
    close_directory(opened);
}

// A root reached by a name its parent does not list (on exFAT in other letter case; here through
// "/.") is named as the parent lists the same file. One listed as typed keeps its typing.
TEST_F(Posix, TheRootIsNamedAsItsParentListsIt) {
    make("Жёлтый/");
    PathBuffer stored = u"-";
    EXPECT_FALSE(stored_root_name(dir, u"Жёлтый", stored) || stored_root_name(dir, u"Нет", stored));
    EXPECT_EQ(std::u16string(stored), u"-");
    ASSERT_TRUE(stored_root_name(dir, u"Жёлтый/.", stored));
    EXPECT_EQ(std::u16string(stored), u"Жёлтый");
}

// With the stand-in for a file system without RENAME_NOREPLACE and entry types preloaded: each
// kind is asked of the entry itself, or the moves below would go otherwise; a file moves by a
// hard link; a file that cannot be linked, one whose link cannot be told from it, and a directory
// move onto a claim of their new name, each step under the directory's lock, given back after
// it. A user's hard link and a user's empty entry stay as they are, beside a note not stamped.
// Beside a stamped note, what a killed run left is finished: the file under both names, an empty
// claim; so is the root's note. (What cannot be undone is ErrorsOfAMoveAreToldWithTheirReasons'.)
TEST_F(Posix, WithoutTheNoReplaceRenameEveryMoveStillNeverReplaces) {
    const char* preload = getenv("LD_PRELOAD");
    if (preload == nullptr || std::string(preload).find("old_filesystem") == std::string::npos) {
        GTEST_SKIP() << "runs with the older file system's stand-in preloaded";
    }
    make("Море Копия Двойник Дом/ Сад/ Sad/inside Ссылка@Дом Кот Пёс Pyos= Мох Moh Луг/ Lug/");
    fs::create_hard_link(root / "Кот", root / "Kot");
    note(root, false);
    move_as_listed({{"Море", {"More", done}},
                    {"Копия", {"Kopiya", done}},
                    {"Двойник", {"Dvojnik", done}},
                    {"Ссылка", {"Ssylka", done}},
                    {"Дом", {"Dom", done}},
                    {"Сад", {"Sad", taken}},
                    {"Кот", {"Kot", taken}},
                    {"Пёс", {"Pyos", taken}},
                    {"Мох", {"Moh", taken}},
                    {"Луг", {"Lug", taken}}});
    const int other = open(root.c_str(), O_RDONLY | O_DIRECTORY);  // the lock is free again
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
    make("Ёж Ezh= Лес/ Les/ Пёс2");
    fs::create_hard_link(root / "Пёс2", root / "Pyos2");
    note(root);
    move_as_listed({{"Ёж", {"Ezh", done}},
                    {"Лес", {"Les", done}},
                    {"Пёс2", {"Pyos2", done}},
                    {"Мох", {"Moh", taken}}});
    note(root);
    clear_move_note(dir);
    EXPECT_EQ(left(),
              "Dom/ Dvojnik=Двойник Ezh=Ёж Kopiya=Копия Kot=Кот Les/ Lug/ Moh=Moh More=Море "
              "Pyos2=Пёс2 Pyos= Sad/ Sad/inside=Sad/inside Ssylka@Дом Кот=Кот Луг/ Мох=Мох Пёс=Пёс "
              "Сад/");
}
