// Stress: the walk against another process that races it for the names it moves to, a tree that
// changes under it, hostile names, depth far past the path limit, permissions, and a file system
// without RENAME_NOREPLACE. After every case, every file that existed and every file another
// process made is still there with its content.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "latinize/latinize.h"
#include "platform/utf8.h"
#include "testing/test_tree.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

using Lines = std::vector<std::string>;

// The Latin name the tool gives `name`, through the tool's own table.
std::string latin_of(const std::string& name) {
    char16_t units[1024];
    std::size_t count = 0;
    utf8_to_utf16(name.data(), name.size(), units, std::size(units), &count);
    PathBuffer latin;
    bool fit = false;
    latinize_name(units, latin, &fit);
    char bytes[4096];
    std::size_t length = 0;
    utf16_to_utf8(latin, text_length(latin), bytes, sizeof bytes, &length);
    return std::string(bytes, length);
}

Lines printed_lines(const RunResult& result) {
    EXPECT_EQ(result.output.rfind(HEADER, 0), 0u);
    std::istringstream rest(result.output.substr(std::min(HEADER.size(), result.output.size())));
    Lines lines;
    for (std::string line; std::getline(rest, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::size_t units_of(const std::string& text) {
    std::vector<char16_t> units(text.size() + 1);
    std::size_t count = 0;
    utf8_to_utf16(text.data(), text.size(), units.data(), units.size(), &count);
    return count;
}

// Every rename line tells the truth: the new path stands, the old one does not. Paths are taken
// relative to `base`. A line cut to fit its buffer, or split by a line feed in a name, is passed
// over.
void expect_lines_true(const Lines& lines, const fs::path& base = {}) {
    for (const std::string& line : lines) {
        const std::size_t from = line.find(" from ");
        const std::size_t to = line.rfind(" to ");
        if (units_of(line) + 1 >= PATH_UNITS - 1 || line.rfind("rename ", 0) != 0 ||
            from == std::string::npos || to == std::string::npos) {
            continue;
        }
        const fs::path old_path = base / line.substr(from + 6, to - from - 6);
        const fs::path new_path = base / line.substr(to + 4);
        EXPECT_TRUE(fs::exists(fs::symlink_status(new_path))) << line;
        EXPECT_FALSE(fs::exists(fs::symlink_status(old_path))) << line;
    }
}

Entries merged(Entries a, const Entries& b) {
    a.insert(a.end(), b.begin(), b.end());
    std::sort(a.begin(), a.end());
    return a;
}

// Another process, acting on the tree while the tool walks it. It runs `act` on its own list of
// paths, in a shuffled order, pass after pass, until it is told to stop. What it makes is logged
// one path a line, once it is made whole.
class Rival {
  public:
    using Act = bool (*)(const std::string& path, int index);

    Rival(const fs::path& work, std::vector<std::string> paths, Act act, unsigned seed)
        : stop_(work / "rival.stop"), log_(work / "rival.log") {
        std::shuffle(paths.begin(), paths.end(), std::mt19937(seed));
        pid_ = fork();
        if (pid_ == 0) {
            const int log = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            for (int pass = 0; access(stop_.c_str(), F_OK) != 0; ++pass) {
                for (std::size_t i = 0; i < paths.size(); ++i) {
                    if (i % 64 == 0 && access(stop_.c_str(), F_OK) == 0) {
                        break;
                    }
                    if (act(paths[i], static_cast<int>(i + pass))) {
                        const std::string line = paths[i] + "\n";
                        static_cast<void>(write(log, line.data(), line.size()));
                    }
                }
            }
            _exit(0);
        }
    }

    // Stops the rival and returns the paths it made.
    Entries stop() {
        std::ofstream(stop_).put('\n');
        int status = 0;
        waitpid(pid_, &status, 0);
        Entries made;
        std::ifstream log(log_);
        for (std::string line; std::getline(log, line);) {
            made.push_back(line);
        }
        fs::remove(stop_);
        fs::remove(log_);
        return made;
    }

  private:
    fs::path stop_;
    fs::path log_;
    pid_t pid_ = -1;
};

bool write_file(const std::string& path, const std::string& content) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written =
        write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    close(fd);
    return written;
}

// Makes a file, or at every tenth a directory, at a name the tool is about to move to.
bool take_name(const std::string& path, int index) {
    if (index % 10 == 0) {
        return mkdir(path.c_str(), 0755) == 0;
    }
    return write_file(path, "rival " + path);
}

class StressTest : public ::testing::Test {
  protected:
    fs::path tree() const { return temp_.path / "tree"; }

    // The race: 20,000 files in 20 directories, 20 directories more that are renamed themselves,
    // and a rival that makes entries at their Latin names while the tool moves them there.
    void race(const RunOptions& options) {
        Entries entries;
        std::vector<std::string> targets;
        for (int d = 0; d < 20; ++d) {
            const std::string dir = "dir" + std::to_string(d);
            for (int f = 0; f < 1000; ++f) {
                const std::string file = "Файл" + std::to_string(f);
                entries.push_back(dir + "/" + file);
                targets.push_back((tree() / dir / latin_of(file)).string());
            }
            const std::string renamed_dir = "Папка" + std::to_string(d);
            entries.push_back(renamed_dir + "/Файл");
            targets.push_back((tree() / latin_of(renamed_dir)).string());
        }
        make_tree(tree(), entries);
        const Entries before = file_contents(tree());

        Rival rival(temp_.path, targets, take_name, 20);
        const RunResult result = run_kirlatin({tree().string()}, options);
        const Entries made = rival.stop();

        EXPECT_EQ(result.exit_code, 0);
        Entries rival_contents;
        for (const std::string& path : made) {
            if (fs::is_regular_file(path)) {
                rival_contents.push_back("rival " + path);
            } else {
                EXPECT_TRUE(fs::is_directory(path)) << path;
            }
        }
        EXPECT_EQ(file_contents(tree()), merged(before, rival_contents));
        const Lines lines = printed_lines(result);
        expect_lines_true(lines);
        int left = 0;  // moves the rival won: the entry keeps its Russian name
        for (const std::string& entry : list_tree(tree())) {
            left += entry.find("Файл") != std::string::npos ? 1 : 0;
        }
        std::cout << "raced " << entries.size() << " entries: the rival made " << made.size()
                  << ", the tool moved " << lines.size() << ", " << left
                  << " files kept their names\n";
    }

    TempDir temp_;
};

TEST_F(StressTest, ARivalTakingTheNewNamesNeverLosesOrReplacesAnything) {
    race({});
}

TEST_F(StressTest, OnAnOlderFileSystemTheRaceLosesNothingEither) {
    RunOptions options;
    options.preload = KIRLATIN_OLD_FILESYSTEM_SHIM;
    race(options);
}

// Removes an empty directory, replaces one by a file, or renames a directory away with all it
// holds; never removes a file. Only a file it makes counts as made.
bool change_tree(const std::string& path, int index) {
    switch (index % 3) {
        case 0:
            rmdir(path.c_str());
            return false;
        case 1:
            return rmdir(path.c_str()) == 0 && write_file(path, "rival " + path);
        default:
            renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, (path + ".away").c_str(), RENAME_NOREPLACE);
            return false;
    }
}

TEST_F(StressTest, ATreeThatChangesUnderTheWalkLosesNothing) {
    for (unsigned round = 0; round < 5; ++round) {
        fs::remove_all(tree());
        Entries entries;
        std::vector<std::string> paths;
        for (int d = 0; d < 100; ++d) {
            const std::string dir = "Каталог" + std::to_string(d);
            for (const std::string& name : {dir, latin_of(dir)}) {
                paths.push_back((tree() / name).string());
                for (int e = 0; e < 5; ++e) {
                    const std::string empty = "Пусто" + std::to_string(e);
                    paths.push_back((tree() / name / empty).string());
                    paths.push_back((tree() / name / latin_of(empty)).string());
                }
            }
            for (int f = 0; f < 20; ++f) {
                entries.push_back(dir + "/Файл" + std::to_string(f));
            }
            for (int e = 0; e < 5; ++e) {
                entries.push_back(dir + "/Пусто" + std::to_string(e) + "/");
            }
        }
        make_tree(tree(), entries);
        const Entries before = file_contents(tree());

        Rival rival(temp_.path, paths, change_tree, round);
        const RunResult result = run_kirlatin({tree().string()});
        const Entries made = rival.stop();

        EXPECT_EQ(result.exit_code, 0);
        Entries rival_contents;
        for (const std::string& path : made) {
            rival_contents.push_back("rival " + path);
        }
        EXPECT_EQ(file_contents(tree()), merged(before, rival_contents)) << "round " << round;
    }
}

// Names no one would choose, and entries that are not files: each is renamed as a name, and a
// FIFO or a socket is never opened (opening this FIFO would block the walk for good).
TEST_F(StressTest, HostileNamesAreRenamedAsNamesAndNothingIsOpened) {
    std::string every_letter;
    for (char16_t unit = 0x0410; unit <= 0x044F; ++unit) {
        char bytes[4];
        std::size_t length = 0;
        utf16_to_utf8(&unit, 1, bytes, sizeof bytes, &length);
        every_letter.append(bytes, length);
    }
    const std::string long_russian = [] {
        std::string name;
        for (int i = 0; i < 127; ++i) {
            name += "Я";
        }
        return name + "x";  // 255 bytes, 128 units; its Latin form is 255 units
    }();
    const Entries names{
        "перевод\nстроки",
        "\x01\x07\x1b\x7fЖук",
        "\xff\xfeМир\xc0",
        "Ёж" + every_letter + "ё",
        long_russian,
        std::string(253, 'a') + "Ж",  // 255 bytes; "./" and its Latin form make 259 units
        "Я.txt",
        "я.txt",
        "Шар",
        "Щар",
        "Еда",
        "Эда",
        "Ёда",
    };
    make_tree(tree(), names);
    ASSERT_EQ(mkfifo((tree() / "Канал").c_str(), 0644), 0);
    ASSERT_EQ(mknod((tree() / "Гнездо").c_str(), S_IFSOCK | 0644, 0), 0);
    const Entries before = file_contents(tree());

    RunOptions here;
    here.working_directory = tree();
    const RunResult result = run_kirlatin({"."}, here);
    EXPECT_EQ(result.exit_code, 0);
    expect_lines_true(printed_lines(result), tree());
    EXPECT_EQ(file_contents(tree()), before);

    struct stat status;
    EXPECT_EQ(lstat((tree() / "Kanal").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(lstat((tree() / "Gnezdo").c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    // Each name that has a Latin form of its own now bears it; of the names that spell alike,
    // exactly one does.
    for (const std::string& name :
         {names[0], names[1], names[2], names[3], names[4], names[5], names[6], names[7]}) {
        EXPECT_TRUE(fs::exists(tree() / latin_of(name))) << name;
        EXPECT_FALSE(fs::exists(tree() / name)) << name;
    }
    EXPECT_EQ(fs::exists(tree() / "Шар") + fs::exists(tree() / "Щар"), 1);
    EXPECT_EQ(fs::exists(tree() / "Еда") + fs::exists(tree() / "Эда") + fs::exists(tree() / "Ёда"),
              2);
}

// Thousands of one-letter levels, far past PATH_MAX: every level whose path fits is renamed, the
// first that would not is left as is with one line, and nothing below it is touched. The walk
// never runs out of stack.
TEST_F(StressTest, ThousandsOfLevelsStopCleanlyAtThePathLimit) {
    constexpr int LEVELS = 2000;
    fs::create_directories(tree());
    int level = open(tree().c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < LEVELS && level >= 0; ++i) {
        mkdirat(level, "д", 0755);
        const int next = openat(level, "д", O_RDONLY | O_DIRECTORY);
        close(level);
        level = next;
    }
    ASSERT_GE(level, 0);
    close(openat(level, "Дно", O_WRONLY | O_CREAT, 0644));
    close(level);

    const RunResult result = run_kirlatin({tree().string()});
    EXPECT_EQ(result.exit_code, 0);
    const Lines lines = printed_lines(result);
    const int fitting = static_cast<int>((PATH_UNITS - 1 - units_of(tree().string())) / 2);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(fitting + 1));
    EXPECT_EQ(lines.back().rfind("left as is, path too long: ", 0), 0u);
    level = open(tree().c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < LEVELS && level >= 0; ++i) {
        const int next = openat(level, i < fitting ? "d" : "д", O_RDONLY | O_DIRECTORY);
        EXPECT_GE(next, 0) << "level " << i + 1;
        close(level);
        level = next;
    }
    ASSERT_GE(level, 0);
    EXPECT_EQ(faccessat(level, "Дно", F_OK, 0), 0);
    close(level);
}

// As a user who may not read one directory and may not write another: their entries stay as
// they are, and the walk goes on.
TEST_F(StressTest, UnreadableAndUnwritableDirectoriesAreLeftAsIsAndTheWalkGoesOn) {
    make_tree(tree(), {"Закрыто/Файл", "Закрыто/Внутри/Файл", "Скрыто/Файл", "Открыто/Файл"});
    RunOptions options;
    options.working_directory = temp_.path;
    options.unprivileged = true;
    ASSERT_EQ(chmod((tree() / "Закрыто").c_str(), 0555), 0);
    ASSERT_EQ(chmod((tree() / "Скрыто").c_str(), 0), 0);
    const RunResult result = run_kirlatin({tree().string()}, options);
    EXPECT_EQ(result.exit_code, 0);
    ASSERT_EQ(chmod((tree() / "Skryto").c_str(), 0755), 0);
    EXPECT_EQ(list_tree(tree()),
              Entries({"Otkryto/", "Otkryto/Fajl", "Skryto/", "Skryto/Файл", "Zakryto/",
                       "Zakryto/Внутри/", "Zakryto/Внутри/Файл", "Zakryto/Файл"}));
}

}  // namespace
