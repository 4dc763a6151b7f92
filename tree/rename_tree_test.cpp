// The front end and the walk on the in-memory platform: what the walk does with every outcome,
// most of which no file system here produces on demand, and with a stop.
#include "tree/rename_tree.h"

#include <gtest/gtest.h>

#include "app/kirlatin.h"
#include "testing/memory_platform.h"

namespace {

const std::u16string HEADER =
    u"\nkirlatin"
    u" " KIRLATIN_VERSION u"\nRename all files and subdirectories from cyrillic to translit\n\n";

// Runs the tool on root; returns its exit code, and the lines after the header in *lines.
int run(const char16_t* root, std::u16string* lines) {
    memory_platform::printed.clear();
    const int exit_code = kirlatin_main(2, root);
    EXPECT_EQ(memory_platform::printed.substr(0, HEADER.size()), HEADER);
    EXPECT_EQ(memory_platform::open_directories, 0);  // every directory opened is closed
    *lines = memory_platform::printed.substr(HEADER.size());
    return exit_code;
}

}  // namespace

// Each outcome a move or an open may return, and the reason its line gives (none: nothing to
// tell); one that is not the operation's own is told as failed. What a move says it left at the
// new name is told after it, whatever the reason. A directory that keeps its name
// is walked under it; one found to be a link once it is opened (swapped for one since it was
// listed) is renamed as a directory but never entered.
TEST(RenameTree, EveryOutcomeIsToldWithItsReasonAndTheWalkGoesOn) {
    const struct {
        Outcome outcome;
        std::u16string moved, opened;
    } cases[] = {
        {Outcome::gone, u"", u""},
        {Outcome::link, u"failed", u""},
        {Outcome::name_taken, u"name taken", u"failed"},
        {Outcome::no_permission, u"no permission", u"no permission"},
        {Outcome::read_only, u"read-only", u"failed"},
        {Outcome::path_too_long, u"path too long", u"path too long"},
        {Outcome::reserved_name, u"reserved name", u"reserved name"},
        {Outcome::not_supported, u"not supported", u"failed"},
        {Outcome::mount_point, u"failed", u"mount point"},
        {Outcome::no_space, u"no space", u"failed"},
        {Outcome::in_use, u"in use", u"failed"},
        {Outcome::other_file_system, u"other file system", u"failed"},
        {Outcome::too_many_open_files, u"too many open files", u"too many open files"},
        {Outcome::failed, u"failed", u"failed"},
    };
    for (const auto& [outcome, moved, opened] : cases) {
        memory_platform::reset({u"Файл", u"Кот/Я", u"Closed/Я", u"Юг/Я", u"Связь/Я"});
        memory_platform::at(u"Файл").move_refusal = memory_platform::at(u"Кот").move_refusal =
            memory_platform::at(u"Closed").open_refusal = outcome;
        memory_platform::at(u"Файл").move_leftover = Leftover::second_name;
        memory_platform::at(u"Кот").move_leftover = Leftover::claim;
        memory_platform::at(u"Юг").listing_fails = true;
        memory_platform::at(u"Связь").open_refusal = Outcome::link;
        const std::u16string left = u"left as is, " + moved;
        std::u16string lines;
        EXPECT_EQ(run(u".", &lines), 2);
        EXPECT_EQ(lines, (moved.empty() ? u"" : left + u": ./Файл\n") +
                             u"left behind, second name: ./Fajl\n" +
                             (moved.empty() ? u"" : left + u": ./Кот\n") +
                             u"left behind, empty claim: ./Kot\n"
                             u"rename file from ./Кот/Я to ./Кот/YA\n" +
                             (opened.empty() ? u"" : u"not listed, " + opened + u": ./Closed\n") +
                             u"rename directory from ./Юг to ./Yug\n"
                             u"rename file from ./Yug/Я to ./Yug/YA\n"
                             u"not listed, failed: ./Yug\n"
                             u"rename directory from ./Связь to ./Svyaz'\n");
    }
}

TEST(RenameTree, ARootOrParentGoneByTheTimeItIsOpenedIsTold) {
    for (const std::u16string gone : {u"old/Фото", u"old"}) {
        memory_platform::reset({u"old/Фото/Я"});
        memory_platform::at(gone).open_refusal = memory_platform::at(u"old/Фото").open_refusal =
            memory_platform::at(u"old/Фото").move_refusal = Outcome::gone;
        memory_platform::at(u"old/Фото").move_leftover = Leftover::claim;
        std::u16string lines;
        EXPECT_EQ(run(u"old/Фото", &lines), 2);
        EXPECT_EQ(lines,
                  u"not listed, failed: old/Фото\n" +
                      std::u16string(gone == u"old" ? u"left as is, failed: old/Фото\n"
                                                    : u"left behind, empty claim: old/Foto\n"));
    }
}

// The root is renamed by the name its parent stores it under, and shown as typed.
TEST(RenameTree, TheRootIsRenamedByTheNameItsParentStores) {
    memory_platform::reset({u"Корень/Я"});
    memory_platform::read_loosely = {u"КОРЕНЬ", u"Корень"};
    std::u16string lines;
    EXPECT_EQ(run(u"КОРЕНЬ", &lines), 0);
    EXPECT_EQ(lines,
              u"rename file from КОРЕНЬ/Я to КОРЕНЬ/YA\nrename directory from КОРЕНЬ to Koren'\n");
}

// A stop is taken between entries: the entry in hand is finished with its line, nothing after
// it is touched, and the root keeps its name.
TEST(RenameTree, AStopEndsTheWalkBeforeTheNextEntry) {
    memory_platform::reset({u"Корень/Я1", u"Корень/Я2/Ю", u"Корень/Я3"});
    memory_platform::stop_at_lines = 2;
    rename_tree(u"Корень");
    EXPECT_EQ(memory_platform::printed,
              u"rename file from Корень/Я1 to Корень/YA1\n"
              u"rename directory from Корень/Я2 to Корень/YA2\n");
    EXPECT_EQ(memory_platform::tree(),
              u"Корень/\nКорень/YA1\nКорень/YA2/\nКорень/YA2/Ю\nКорень/Я3\n");
}
