// The front end, through the built binary: exact output bytes and exit codes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "app/kirlatin.h"
#include "platform/platform.h"
#include "testing/test_tree.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

TEST(FrontEnd, CalledWronglyItSaysSoExitsOneAndRenamesNothing) {
    TempDir temp;
    make_tree(temp.path, {"Море.jpg"});
    const std::string root = temp.path.string();
    const std::string file = root + "/Море.jpg";
    const struct {
        Entries arguments;
        std::string message;
    } cases[] = {
        {{}, "use: kirlatin.exe rootdir\n"},
        {{root, root}, "use: kirlatin.exe rootdir\n"},
        {{""}, " not exist\n"},
        {{file}, file + " not exist\n"},
        {{file + "/"}, file + "/ not exist\n"},
        {{root + "/Нет"}, root + "/Нет not exist\n"},
        // Too long for a path buffer: refused, the message cut to keep its line feed.
        {{std::string(5000, 'a')}, std::string(258, 'a') + "\n"},
    };
    for (const auto& c : cases) {
        const RunResult result = run_kirlatin(c.arguments);
        EXPECT_EQ(result.output, HEADER + c.message);
        EXPECT_EQ(result.exit_code, 1);
    }
    EXPECT_EQ(list_tree(temp.path), Entries{"Море.jpg"});
}

// A root of 259 units is walked (and renamed); one of 260 is refused, never walked cut short.
TEST(FrontEnd, RootLengthLimit) {
    TempDir temp;
    std::string parent = temp.path.string();
    while (parent.size() < 257) {
        const std::size_t length = std::min<std::size_t>(100, 257 - parent.size() - 1);
        parent.append("/").append(length, 'd');
    }
    const std::string root = parent + "/М";  // 259 units: М is one unit in two bytes
    make_tree(parent, {"М/"});

    RunResult result = run_kirlatin({root + "/"});
    EXPECT_EQ(result.output, HEADER + parent + "/\n");  // the root as it fit, cut for "\n"
    EXPECT_EQ(result.exit_code, 1);
    result = run_kirlatin({root});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(list_tree(parent), Entries{"M/"});
}

// "/" is trimmed to nothing and the walk composes "/name" from it. Shown in a child process
// confined to a temporary tree, so that its "/" is that tree and nothing else.
TEST(FrontEnd, TheRootDirectoryIsWalkedAsSlashName) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "confining a process to a tree needs root";
    }
    TempDir temp;
    make_tree(temp.path, {"Фото/Море.jpg"});
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (dup2(output[1], STDOUT_FILENO) < 0 || chroot(temp.path.c_str()) != 0 ||
            chdir("/") != 0) {
            _exit(100);  // never walk the real root
        }
        const int exit_code = kirlatin_main(2, u"/");
        console_flush();
        _exit(exit_code);
    }
    close(output[1]);
    std::string printed;
    char buffer[1024];
    for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) > 0;) {
        printed.append(buffer, static_cast<std::size_t>(got));
    }
    close(output[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(printed, HEADER + "rename directory from /Фото to /Foto\n" +
                           "rename file from /Foto/Море.jpg to /Foto/More.jpg\n");
    EXPECT_EQ(list_tree(temp.path), Entries({"Foto/", "Foto/More.jpg"}));
}

TEST(FrontEnd, OutputThatCannotBeWrittenNeverStopsTheWalk) {
    for (const auto mode : {RunOptions::closed, RunOptions::reader_gone}) {
        TempDir temp;
        make_tree(temp.path, numbered("Файл", 100));
        RunOptions options;
        options.stdout_mode = mode;
        EXPECT_EQ(run_kirlatin({temp.path.string()}, options).exit_code, 0);
        for (const std::string& name : list_tree(temp.path)) {
            EXPECT_EQ(name.rfind("Fajl", 0), 0u) << name;
        }
    }
}

// On a terminal every line is written as it comes; into a file, kept back and written whole.
TEST(FrontEnd, WritesTheSameLinesToATerminalAFileAndAPipe) {
    for (const auto mode : {RunOptions::terminal, RunOptions::to_file, RunOptions::captured}) {
        TempDir temp;
        make_tree(temp.path, {"Фото/Море.jpg"});
        RunOptions options;
        options.stdout_mode = mode;
        const std::string root = temp.path.string();
        const RunResult result = run_kirlatin({root}, options);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.output, HEADER + "rename directory from " + root + "/Фото to " + root +
                                     "/Foto\nrename file from " + root + "/Foto/Море.jpg to " +
                                     root + "/Foto/More.jpg\n");
    }
}

// Lines kept back for a file or a pipe are written out when the process is asked to stop: the
// renames that happened and the lines printed are the same set, whenever the signal comes.
TEST(FrontEnd, AStopRequestLosesNoLineOfARenameThatHappened) {
    for (const int stop_signal : {SIGINT, SIGTERM, SIGHUP}) {
        TempDir temp;
        const Entries names = numbered("Файл", 20000);
        make_tree(temp.path, names);
        RunOptions options;
        options.stdout_mode = RunOptions::to_file;
        options.stop_signal = stop_signal;
        // The signal comes once the entry listed first has been renamed: the walk has begun.
        const fs::path first =
            temp.path /
            ("Fajl" + fs::directory_iterator(temp.path)->path().filename().string().substr(
                          std::string("Файл").size()));
        options.stop_when = [&] { return fs::exists(first); };
        const RunResult result = run_kirlatin({temp.path.string()}, options);
        ASSERT_EQ(result.signal, stop_signal) << "the walk ended before the signal came";

        std::set<std::string> renamed;
        for (const std::string& name : list_tree(temp.path)) {
            if (name.rfind("Fajl", 0) == 0) {
                renamed.insert(name);
            }
        }
        std::set<std::string> printed;
        std::istringstream lines(result.output.substr(HEADER.size()));
        for (std::string line; std::getline(lines, line);) {
            printed.insert(line.substr(line.rfind('/') + 1));
        }
        EXPECT_FALSE(renamed.empty());
        EXPECT_LT(renamed.size(), names.size());
        EXPECT_EQ(printed, renamed);
    }
}

}  // namespace
