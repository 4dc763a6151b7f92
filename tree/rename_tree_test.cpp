// The walk on real temporary trees, through the built binary: what is renamed, in which order,
// and what is never replaced, lost, followed or mangled.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "testing/test_tree.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

using Lines = std::vector<std::string>;

Lines sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string file_line(const std::string& from, const std::string& to) {
    return "rename file from " + from + " to " + to;
}

std::string directory_line(const std::string& from, const std::string& to) {
    return "rename directory from " + from + " to " + to;
}

class WalkTest : public ::testing::Test {
  protected:
    std::string at(const std::string& relative) const { return (temp_.path / relative).string(); }

    // Runs the tool on `root` and returns the lines it printed after the header.
    Lines walk(const std::string& root, const RunOptions& options = {}) {
        const RunResult result = run_kirlatin({root}, options);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.output.rfind(HEADER, 0), 0u) << result.output;
        std::istringstream rest(result.output.substr(HEADER.size()));
        Lines lines;
        for (std::string line; std::getline(rest, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    TempDir temp_;
};

TEST_F(WalkTest, ParentsComeBeforeTheirContentAndTheRootLast) {
    make_tree(temp_.path, {"Архив/Фото/Лето/Море.jpg", "Архив/notes.txt"});
    EXPECT_EQ(walk(at("Архив") + "/"),  // one trailing separator is trimmed
              Lines({directory_line(at("Архив/Фото"), at("Архив/Foto")),
                     directory_line(at("Архив/Foto/Лето"), at("Архив/Foto/Leto")),
                     file_line(at("Архив/Foto/Leto/Море.jpg"), at("Архив/Foto/Leto/More.jpg")),
                     directory_line(at("Архив"), at("Arhiv"))}));
    EXPECT_EQ(list_tree(temp_.path), Entries({"Arhiv/", "Arhiv/Foto/", "Arhiv/Foto/Leto/",
                                              "Arhiv/Foto/Leto/More.jpg", "Arhiv/notes.txt"}));
}

TEST_F(WalkTest, TheRootOnlyEverMovesWithinItsParent) {
    // Фото/Leto would land in the existing Foto if a final step could change a parent.
    make_tree(temp_.path, {"Фото/Лето/", "Foto/", "Документы/work/Фото/"});
    EXPECT_EQ(walk(at("Фото")), Lines({directory_line(at("Фото/Лето"), at("Фото/Leto"))}));
    const std::string work = at("Документы/work");
    EXPECT_EQ(walk(work), Lines({directory_line(work + "/Фото", work + "/Foto")}));
    EXPECT_EQ(list_tree(temp_.path), Entries({"Foto/", "Документы/", "Документы/work/",
                                              "Документы/work/Foto/", "Фото/", "Фото/Leto/"}));
}

TEST_F(WalkTest, CollidingNamesAreNeverReplaced) {
    // Шар and Щар, Еда and Эда spell alike; Фото meets an existing Foto and walks into it.
    make_tree(temp_.path, {"Шар", "Щар", "Еда/Суп", "Эда/Суп", "Фото/Море.jpg", "Foto/Лето.txt"});
    const Entries contents = file_contents(temp_.path);
    EXPECT_EQ(walk(temp_.path.string()).size(), 4u);  // Shar, Eda, Eda/Sup, Foto/Leto.txt
    EXPECT_EQ(file_contents(temp_.path), contents);
    const std::string eda_lost = fs::exists(temp_.path / "Еда") ? "Еда" : "Эда";
    const std::string shar_lost = fs::exists(temp_.path / "Шар") ? "Шар" : "Щар";
    EXPECT_EQ(list_tree(temp_.path),
              sorted({"Eda/", "Eda/Sup", eda_lost + "/", eda_lost + "/Суп", "Foto/",
                      "Foto/Leto.txt", "Shar", shar_lost, "Фото/", "Фото/Море.jpg"}));
}

TEST_F(WalkTest, RelativeRootsAndDotFiles) {
    make_tree(temp_.path, {"Фото/.Дача", "..Две точки", "Лето/Июль/"});
    RunOptions here;
    here.working_directory = temp_.path;
    EXPECT_EQ(
        sorted(walk(".", here)),
        sorted({directory_line("./Фото", "./Foto"), file_line("./Foto/.Дача", "./Foto/.Dacha"),
                file_line("./..Две точки", "./..Dve tochki"), directory_line("./Лето", "./Leto"),
                directory_line("./Leto/Июль", "./Leto/Iyul'")}));
    make_tree(temp_.path, {"Море/Июнь/"});
    EXPECT_EQ(walk("Море", here),
              Lines({directory_line("Море/Июнь", "Море/Iyun'"), directory_line("Море", "More")}));
}

TEST_F(WalkTest, LinksAreRenamedThemselvesAndNeverFollowed) {
    make_tree(temp_.path, {"outside/Секрет.txt", "root/Фото/", "alias -> root"});
    make_tree(temp_.path / "root",
              {"Ссылка -> ../outside", "Битая -> nowhere", "Foto -> ../outside"});
    const std::string alias = at("alias");  // the root named may be a link: it is walked
    EXPECT_EQ(sorted(walk(alias)), sorted({file_line(alias + "/Ссылка", alias + "/Ssylka"),
                                           file_line(alias + "/Битая", alias + "/Bitaya")}));
    EXPECT_EQ(list_tree(temp_.path),
              Entries({"alias -> root", "outside/", "outside/Секрет.txt", "root/",
                       "root/Bitaya -> nowhere", "root/Foto -> ../outside",
                       "root/Ssylka -> ../outside", "root/Фото/"}));
}

TEST_F(WalkTest, InvalidUtf8NamesKeepEveryOtherByte) {
    make_tree(temp_.path, {"\xff\xd0\x9c", "\xfe\xd0\xa4/", "\xfe\xd0\xa4/\xc0\xaf\xd0\x96"});
    EXPECT_EQ(sorted(walk(temp_.path.string())),
              sorted({file_line(at("\xff\xd0\x9c"), at("\xff"
                                                       "M")),
                      directory_line(at("\xfe\xd0\xa4"), at("\xfe"
                                                            "F")),
                      file_line(at("\xfe"
                                   "F/\xc0\xaf\xd0\x96"),
                                at("\xfe"
                                   "F/\xc0\xaf"
                                   "ZH"))}));
    EXPECT_EQ(file_contents(temp_.path), sorted({"\xff\xd0\x9c", "\xfe\xd0\xa4/\xc0\xaf\xd0\x96"}));
}

// An entry whose path would pass 259 units is left as is, with one line that says so, and a
// directory so left is not entered.
TEST_F(WalkTest, PathsOf259UnitsAreRenamedAndLongerOnesLeftAsIs) {
    std::string dir = temp_.path.string();
    while (dir.size() < 200) {
        const std::size_t length = std::min<std::size_t>(50, 200 - dir.size() - 1);
        dir.append("/").append(length, 'd');
    }
    std::string m58;
    for (int i = 0; i < 58; ++i) {
        m58 += "М";
    }
    const std::string deep(59, 'd');
    // dir/name of 259 units; of 260; whose Latin form is 260; a directory of 260.
    make_tree(dir, {m58, m58 + "М", "Ж" + m58.substr(2), deep + "/Я"});

    const Lines lines = walk(temp_.path.string());
    ASSERT_EQ(lines.size(), 4u);  // cut lines still end with their line feed
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("left as is, path too long: /", 0) == 0;
                            }),
              3);
    EXPECT_EQ(list_tree(dir), sorted({std::string(58, 'M'), m58 + "М", "Ж" + m58.substr(2),
                                      deep + "/", deep + "/Я"}));
}

// Without RENAME_NOREPLACE files move by a hard link, which fails on a taken name, and
// directories stay; without entry types the entries themselves are asked, never their targets.
TEST_F(WalkTest, OnAnOlderFileSystemTheSamePromisesHold) {
    make_tree(temp_.path, {"Море.jpg", "Шар", "Shar", "Фото/Лето.txt", "docs/Лето.txt",
                           "Ссылка -> docs", "link -> docs"});
    const Entries contents = file_contents(temp_.path);
    RunOptions options;
    options.preload = KIRLATIN_OLD_FILESYSTEM_SHIM;
    EXPECT_EQ(
        sorted(walk(temp_.path.string(), options)),
        sorted({file_line(at("Море.jpg"), at("More.jpg")), file_line(at("Ссылка"), at("Ssylka")),
                file_line(at("docs/Лето.txt"), at("docs/Leto.txt"))}));
    EXPECT_EQ(file_contents(temp_.path), contents);
    EXPECT_EQ(list_tree(temp_.path),
              sorted({"More.jpg", "Shar", "Шар", "Фото/", "Фото/Лето.txt", "docs/", "docs/Leto.txt",
                      "Ssylka -> docs", "link -> docs"}));
}

}  // namespace
