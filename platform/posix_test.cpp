// The Linux and macOS file-system services themselves, in a temporary directory, as an ordinary
// user: a directory moved in a wide directory, each outcome of a move and an open, and, run once
// more with the stand-in for an older file system preloaded, listings and the fallback moves.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

class Posix : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = fs::temp_directory_path() / "kirlatin-platform-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        ASSERT_EQ(open_root_path(root.u16string().c_str(), &dir), Outcome::done);
    }
    void TearDown() override {
        if (dir != nullptr) {
            close_directory(dir);
            fs::remove_all(root);
        }
    }
    // Makes files that hold their names, directories ("name/") and links ("name@target").
    void make(std::initializer_list<std::u16string> names) {
        for (const std::u16string& name : names) {
            const std::size_t at = name.find(u'@');
            if (at != std::u16string::npos) {
                fs::create_symlink(name.substr(at + 1), root / name.substr(0, at));
            } else if (name.back() == u'/') {
                fs::create_directories(root / name);
            } else {
                fs::create_directories((root / name).parent_path());
                std::ofstream(root / name) << fs::path(name).string();
            }
        }
    }
    // What stands in the directory: each file with what it holds, "/" for a directory, and "->"
    // and its target for a link.
    std::map<std::u16string, std::string> left() {
        std::map<std::u16string, std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            std::ifstream in(entry.path());
            entries[entry.path().lexically_relative(root).u16string()] =
                entry.is_symlink()     ? "->" + fs::read_symlink(entry.path()).string()
                : entry.is_directory() ? "/"
                                       : std::string(std::istreambuf_iterator<char>(in), {});
        }
        return entries;
    }
    Outcome move(const char16_t* from, const char16_t* to, EntryKind kind = EntryKind::other) {
        return move_without_replacing(dir, from, to, kind, &leftover);
    }

    fs::path root;
    Directory* dir = nullptr;
    Leftover leftover = Leftover::none;
};

}  // namespace

// Linux file systems place a new name by its hash: of many directories renamed while listed,
// some land ahead of the listing, which must pass each over.
TEST_F(Posix, ADirectoryMovedDuringItsParentsListingIsNeverListedAgain) {
    for (int i = 0; i < 3000; ++i) {
        fs::create_directory(root / (u"Каталог" + fs::path(std::to_string(i)).u16string()));
    }
    int walked = 0;
    for (DirEntry entry; read_entry(dir, &entry) == Listing::entry; ++walked) {
        ASSERT_EQ(entry.name[0], u'К');
        const std::u16string latin = u"Katalog-" + std::u16string(entry.name + 7);
        ASSERT_EQ(move(entry.name, latin.c_str(), EntryKind::directory), Outcome::done);
    }
    EXPECT_EQ(walked, 3000);
}

TEST_F(Posix, AMoveRenamesTheEntryItselfOrChangesNothingAndBelowTheRootNoLinkIsFollowed) {
    make({u"Файл", u"Занято", u"Taken", u"Папка/", u"Full/inside", u"Ссылка@Full"});
    EXPECT_EQ(move(u"Файл", u"Fajl"), Outcome::done);
    EXPECT_EQ(move(u"Ссылка", u"Ssylka", EntryKind::link), Outcome::done);
    EXPECT_EQ(move(u"Папка", u"Papka", EntryKind::directory), Outcome::done);
    EXPECT_EQ(move(u"Занято", u"Taken"), Outcome::name_taken);
    EXPECT_EQ(move(u"Papka", u"Full", EntryKind::directory), Outcome::name_taken);
    EXPECT_EQ(move(u"Нет", u"Net"), Outcome::gone);
    EXPECT_EQ(move(u"Fajl", std::u16string(200, u'ж').c_str()), Outcome::path_too_long);
    EXPECT_EQ(left(), (std::map<std::u16string, std::string>{{u"Fajl", "Файл"},
                                                             {u"Занято", "Занято"},
                                                             {u"Taken", "Taken"},
                                                             {u"Papka", "/"},
                                                             {u"Full", "/"},
                                                             {u"Full/inside", "Full/inside"},
                                                             {u"Ssylka", "->Full"}}));
    Directory* opened = nullptr;
    EXPECT_NE(open_directory(dir, u"Ssylka", &opened), Outcome::done);  // gone, or link
    EXPECT_EQ(open_directory(dir, u"Fajl", &opened), Outcome::gone);
    ASSERT_EQ(open_root(dir, u"Ssylka", &opened), Outcome::done);
    close_directory(opened);
}

// Moves each entry as it is listed, as the walk does, to the Latin name `moves` gives it, and
// checks what the move returns and leaves.
struct Expected {
    std::u16string latin;
    Outcome outcome;
    Leftover leftover = Leftover::none;
};

void move_as_listed(Directory* dir, const std::map<std::u16string, Expected>& moves) {
    std::size_t moved = 0;
    for (DirEntry entry; read_entry(dir, &entry) == Listing::entry;) {
        const auto found = moves.find(entry.name);
        if (found != moves.end()) {
            Leftover left = Leftover::none;
            const Expected& expected = found->second;
            EXPECT_EQ(
                move_without_replacing(dir, entry.name, expected.latin.c_str(), entry.kind, &left),
                expected.outcome)
                << fs::path(entry.name);
            EXPECT_EQ(left, expected.leftover);
            ++moved;
        }
    }
    EXPECT_EQ(moved, moves.size());
}

// What a move cut short leaves is finished: the file under both names, and an empty claim whose
// note stands beside its entry. An empty entry without a note, or a claim that holds anything,
// is somebody else's. A note whose entry is gone is removed, unless it holds anything.
TEST_F(Posix, AMoveCutShortIsFinishedAndWhatAUserMadeIsKept) {
    make({u"Кот", u"Пёс", u"Ёж", u"Мох", u"Moh", u"Лес/", u"Les/", u"Луг/", u"Lug/",
          u".kirlatin-Ёж/", u".kirlatin-Мох/", u".kirlatin-Лес/", u".kirlatin-Гора/",
          u".kirlatin-Туман/keep"});
    fs::create_hard_link(root / u"Кот", root / u"Kot");
    std::ofstream(root / u"Pyos").flush();
    std::ofstream(root / u"Ezh").flush();
    move_as_listed(dir, {{u"Кот", {u"Kot", Outcome::done}},
                         {u"Пёс", {u"Pyos", Outcome::name_taken}},
                         {u"Ёж", {u"Ezh", Outcome::done}},
                         {u"Мох", {u"Moh", Outcome::name_taken}},
                         {u"Лес", {u"Les", Outcome::done}},
                         {u"Луг", {u"Lug", Outcome::name_taken}}});
    EXPECT_EQ(left(), (std::map<std::u16string, std::string>{
                          {u"Kot", "Кот"},
                          {u"Пёс", "Пёс"},
                          {u"Pyos", ""},
                          {u"Ezh", "Ёж"},
                          {u"Мох", "Мох"},
                          {u"Moh", "Moh"},
                          {u".kirlatin-Мох", "/"},
                          {u"Les", "/"},
                          {u"Луг", "/"},
                          {u"Lug", "/"},
                          {u".kirlatin-Туман", "/"},
                          {u".kirlatin-Туман/keep", ".kirlatin-Туман/keep"}}));
}

// With the stand-in for a file system without RENAME_NOREPLACE and entry types preloaded: each
// kind is asked of the entry itself; a file moves by a hard link; a file that cannot be linked,
// one whose link cannot be told from it, and a directory move onto a claim of their new name.
// Where the old name cannot be removed ("Упрям…", as in an append-only directory), neither can
// the link or the claim ("Upryam…"): each is told, the claim keeps its note, and no later move
// finishes them.
TEST_F(Posix, WithoutTheNoReplaceRenameEveryMoveStillNeverReplaces) {
    const char* preload = getenv("LD_PRELOAD");
    if (preload == nullptr || std::string(preload).find("old_filesystem") == std::string::npos) {
        GTEST_SKIP() << "runs with the older file system's stand-in preloaded";
    }
    make({u"Море", u"Упрямый", u"Упрямая/", u"Копия", u"Двойник", u"Занято", u"Taken", u"Дом/",
          u"Сад/", u"Sad/inside", u"Ссылка@Дом"});
    std::map<std::u16string, EntryKind> kinds;
    for (DirEntry entry; read_entry(dir, &entry) == Listing::entry;) {
        kinds[entry.name] = entry.kind;
    }
    EXPECT_EQ(kinds.size(), 11u);
    EXPECT_EQ(kinds[u"Дом"], EntryKind::directory);
    EXPECT_EQ(kinds[u"Ссылка"], EntryKind::link);
    EXPECT_EQ(kinds[u"Море"], EntryKind::other);
    const Expected stubborn_file = {u"Upryamyj", Outcome::no_permission, Leftover::second_name};
    const Expected stubborn_directory = {u"Upryamaya", Outcome::no_permission, Leftover::claim};
    for (int run = 0; run < 2; ++run) {
        close_directory(dir);
        ASSERT_EQ(open_root_path(root.u16string().c_str(), &dir), Outcome::done);
        std::map<std::u16string, Expected> moves = {{u"Упрямый", stubborn_file},
                                                    {u"Упрямая", stubborn_directory},
                                                    {u"Занято", {u"Taken", Outcome::name_taken}},
                                                    {u"Сад", {u"Sad", Outcome::name_taken}}};
        if (run == 0) {
            moves.insert({{u"Море", {u"More", Outcome::done}},
                          {u"Копия", {u"Kopiya", Outcome::done}},
                          {u"Двойник", {u"Dvojnik", Outcome::done}},
                          {u"Ссылка", {u"Ssylka", Outcome::done}},
                          {u"Дом", {u"Dom", Outcome::done}}});
        }
        move_as_listed(dir, moves);
    }
    EXPECT_EQ(left(), (std::map<std::u16string, std::string>{{u"More", "Море"},
                                                             {u"Упрямый", "Упрямый"},
                                                             {u"Upryamyj", "Упрямый"},
                                                             {u"Упрямая", "/"},
                                                             {u"Upryamaya", "/"},
                                                             {u".kirlatin-Упрямая", "/"},
                                                             {u"Kopiya", "Копия"},
                                                             {u"Dvojnik", "Двойник"},
                                                             {u"Ssylka", "->Дом"},
                                                             {u"Занято", "Занято"},
                                                             {u"Taken", "Taken"},
                                                             {u"Dom", "/"},
                                                             {u"Сад", "/"},
                                                             {u"Sad", "/"},
                                                             {u"Sad/inside", "Sad/inside"}}));
    for (const char16_t* stubborn : {u"Упрямый", u"Upryamyj", u"Упрямая", u"Upryamaya"}) {
        fs::rename(root / stubborn, root / (u"removable-" + std::u16string(stubborn)));
    }
}
