// kirlatin.exe under Wine, on real temporary trees: backslash paths, drive roots, output to a
// console, a file or a pipe, and the Win32 names and links it must not act on. Every tree is
// reached through a drive letter of its own, mapped in the Wine prefix for the test's length.
#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "testing/test_tree.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const fs::path PREFIX = KIRLATIN_WINEPREFIX;

// Makes the Wine prefix once, whoever asks first; wine-run.sh serialises the making.
void ensure_prefix() {
    static const bool made = [] {
        setenv("WINEPREFIX", PREFIX.c_str(), 1);
        return run_program({KIRLATIN_WINE_RUN, "--version"}).exit_code == 0;
    }();
    ASSERT_TRUE(made);
}

// A spare drive letter mapped to a directory, claimed atomically: symlink() fails when the letter
// is taken, so tests that run at once never share one. Never Z:, which is the whole machine.
class MappedDrive {
  public:
    explicit MappedDrive(const fs::path& target) {
        for (char letter = 'k'; letter <= 'y' && letter_ == 0; ++letter) {
            const fs::path link = PREFIX / "dosdevices" / (std::string(1, letter) + ":");
            if (symlink(target.c_str(), link.c_str()) == 0) {
                letter_ = letter;
                link_ = link;
            } else if (errno != EEXIST) {
                break;
            }
        }
        EXPECT_NE(letter_, 0) << "no spare drive letter";
    }
    ~MappedDrive() {
        if (letter_ != 0) {
            unlink(link_.c_str());
        }
    }
    // "K:", without the backslash.
    std::string drive() const {
        return std::string(1, static_cast<char>(letter_ - 'a' + 'A')) + ":";
    }

  private:
    char letter_ = 0;
    fs::path link_;
};

class WindowsBinary : public ::testing::Test {
  protected:
    void SetUp() override { ensure_prefix(); }

    RunResult run(const Entries& arguments, const RunOptions& options = {}) {
        Entries command{KIRLATIN_WINE_RUN, KIRLATIN_BINARY};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return run_program(command, options);
    }

    TempDir temp_;
};

std::string file_line(const std::string& from, const std::string& to) {
    return "rename file from " + from + " to " + to + "\n";
}

std::string directory_line(const std::string& from, const std::string& to) {
    return "rename directory from " + from + " to " + to + "\n";
}

TEST_F(WindowsBinary, DriveRootAndBackslashPaths) {
    make_tree(temp_.path, {"Архив/Фото/Море.jpg"});
    const MappedDrive mapped(temp_.path);
    const std::string d = mapped.drive();

    // "X:\" is trimmed to "X:" and the drive's root is walked; its own final step finds nothing.
    RunResult result = run({d + "\\"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.output,
              HEADER + directory_line(d + "\\Архив", d + "\\Arhiv") +
                  directory_line(d + "\\Arhiv\\Фото", d + "\\Arhiv\\Foto") +
                  file_line(d + "\\Arhiv\\Foto\\Море.jpg", d + "\\Arhiv\\Foto\\More.jpg"));
    EXPECT_EQ(list_tree(temp_.path), (Entries{"Arhiv/", "Arhiv/Foto/", "Arhiv/Foto/More.jpg"}));
    EXPECT_EQ(file_contents(temp_.path), Entries{"Архив/Фото/Море.jpg"});

    // A root whose own name changes is renamed last; one trailing backslash is trimmed.
    make_tree(temp_.path, {"Лето/Пляж.jpg"});
    result = run({d + "\\Лето\\"});
    EXPECT_EQ(result.output, HEADER + file_line(d + "\\Лето\\Пляж.jpg", d + "\\Лето\\Plyazh.jpg") +
                                 directory_line(d + "\\Лето", d + "\\Leto"));
    EXPECT_TRUE(fs::exists(temp_.path / "Leto" / "Plyazh.jpg"));
}

TEST_F(WindowsBinary, CalledWronglyItSaysSoAndExitsOne) {
    make_tree(temp_.path, {"Море.jpg"});
    const MappedDrive mapped(temp_.path);
    const std::string d = mapped.drive();
    const auto refused = [&](const Entries& arguments) {
        const RunResult result = run(arguments);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.output.rfind(HEADER, 0), 0u) << result.output;
        return result.output.substr(std::min(HEADER.size(), result.output.size()));
    };
    EXPECT_EQ(refused({}), "use: kirlatin.exe rootdir\n");
    EXPECT_EQ(refused({d + "\\", d + "\\"}), "use: kirlatin.exe rootdir\n");
    EXPECT_EQ(refused({d + "\\Нет"}), d + "\\Нет not exist\n");
    EXPECT_EQ(refused({d + "\\Море.jpg"}), d + "\\Море.jpg not exist\n");
    EXPECT_EQ(list_tree(temp_.path), Entries{"Море.jpg"});
}

TEST_F(WindowsBinary, RelativeRootShowsPathsAsComposed) {
    make_tree(temp_.path, {"Море.jpg"});
    RunOptions options;
    options.working_directory = temp_.path;
    const RunResult result = run({"."}, options);
    EXPECT_EQ(result.output, HEADER + file_line(".\\Море.jpg", ".\\More.jpg"));
    EXPECT_EQ(list_tree(temp_.path), Entries{"More.jpg"});
}

// Standard output that is not a console gets the same lines, as UTF-8; a console shows them too.
TEST_F(WindowsBinary, WritesToAFileAPipeAndAConsole) {
    const MappedDrive mapped(temp_.path);
    const std::string d = mapped.drive();
    const struct {
        decltype(RunOptions::stdout_mode) mode;
        std::string name;
        std::string latin;
    } outputs[] = {
        {RunOptions::to_file, "Файл", "Fajl"},
        {RunOptions::captured, "Канал", "Kanal"},
        {RunOptions::terminal, "Консоль", "Konsol'"},
    };
    for (const auto& output : outputs) {
        SCOPED_TRACE(output.name);
        make_tree(temp_.path, {output.name + "/"});
        RunOptions options;
        options.stdout_mode = output.mode;
        const RunResult result = run({d + "\\" + output.name}, options);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.output,
                  HEADER + directory_line(d + "\\" + output.name, d + "\\" + output.latin));
    }
    EXPECT_EQ(list_tree(temp_.path), (Entries{"Fajl/", "Kanal/", "Konsol'/"}));
}

// Нул, Прн, Лпт1, Цом9 ... would become device names, which Win32 resolves to the device, not to a
// file in the directory: those moves fail and the files keep their names and contents.
TEST_F(WindowsBinary, NeverMovesToADeviceName) {
    const Entries devices{"Ауx.txt", "Лпт1.log", "Нул", "Прн.txt", "Цом9", "Цон/"};
    Entries tree = devices;
    tree.push_back("Нулевой.txt");
    make_tree(temp_.path, tree);
    const MappedDrive mapped(temp_.path);
    const std::string d = mapped.drive();
    const RunResult result = run({d + "\\"});
    EXPECT_EQ(result.output, HEADER + file_line(d + "\\Нулевой.txt", d + "\\Nulevoj.txt"));
    Entries after = devices;
    after.insert(after.begin(), "Nulevoj.txt");
    EXPECT_EQ(list_tree(temp_.path), after);
    EXPECT_EQ(file_contents(temp_.path),
              (Entries{"Ауx.txt", "Лпт1.log", "Нул", "Нулевой.txt", "Прн.txt", "Цом9"}));
}

// Names are matched without regard to letter case: Я.txt becomes YA.txt, which ya.txt already is.
TEST_F(WindowsBinary, CaseOnlyCollisionsLeaveBothAsTheyAre) {
    make_tree(temp_.path, {"Я.txt", "ya.txt", "Фото/Море.jpg", "FOTO/"});
    const MappedDrive mapped(temp_.path);
    const RunResult result = run({mapped.drive() + "\\"});
    EXPECT_EQ(result.output, HEADER);
    EXPECT_EQ(list_tree(temp_.path),
              (Entries{"FOTO/", "ya.txt", "Фото/", "Фото/Море.jpg", "Я.txt"}));
    EXPECT_EQ(file_contents(temp_.path), (Entries{"ya.txt", "Фото/Море.jpg", "Я.txt"}));
}

// A link to a directory is never entered, neither as listed nor as the twin a failed move leads
// to. (Wine cannot rename a Unix symbolic link itself, only its target, so under Wine the links
// keep their names; Windows renames a junction or directory link itself.)
TEST_F(WindowsBinary, NeverEntersALinkedDirectory) {
    make_tree(temp_.path, {"outside/Внутри.txt", "tree/Фото/", "tree/Foto -> ../outside",
                           "tree/link -> ../outside", "tree/Ссылка -> ../outside"});
    const MappedDrive mapped(temp_.path / "tree");
    const RunResult result = run({mapped.drive() + "\\"});
    EXPECT_EQ(result.output, HEADER);
    EXPECT_EQ(list_tree(temp_.path / "outside"), Entries{"Внутри.txt"});
    EXPECT_EQ(list_tree(temp_.path / "tree"), (Entries{"Foto -> ../outside", "link -> ../outside",
                                                       "Ссылка -> ../outside", "Фото/"}));
}

// Win32 strips a trailing dot or space from a name, so "Фото." would act on "Фото": such an entry
// is neither renamed nor entered, and the entry it would stand for is renamed as itself.
TEST_F(WindowsBinary, NamesWin32WouldReadAsOthersAreLeftAlone) {
    make_tree(temp_.path, {"Фото.", "Фото", "Лето /Море.jpg"});
    const MappedDrive mapped(temp_.path);
    const std::string d = mapped.drive();
    const RunResult result = run({d + "\\"});
    EXPECT_EQ(result.output, HEADER + file_line(d + "\\Фото", d + "\\Foto"));
    EXPECT_EQ(list_tree(temp_.path), (Entries{"Foto", "Лето /", "Лето /Море.jpg", "Фото."}));
    EXPECT_EQ(file_contents(temp_.path), (Entries{"Лето /Море.jpg", "Фото", "Фото."}));
}

}  // namespace
