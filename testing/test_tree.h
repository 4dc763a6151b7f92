// Test support: temporary trees built from a short list of paths, and runs of the real binary.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

using Entries = std::vector<std::string>;

// A fresh directory under the system's temporary directory, removed with all it holds.
struct TempDir {
    TempDir();
    ~TempDir();
    std::filesystem::path path;
};

// Makes entries below root from a list such as {"Фото/Море.jpg", "Лето/", "link -> ../x"}: a
// trailing slash makes a directory, " -> " a symbolic link, anything else a file whose content
// is its own path as given, so that every file can be traced to where it started.
void make_tree(const std::filesystem::path& root, const Entries& entries);

// count names: prefix0, prefix1, ...
Entries numbered(const std::string& prefix, int count);

// Everything below root, sorted, in make_tree's notation; links are listed, never followed.
Entries list_tree(const std::filesystem::path& root);

// The contents of every file below root, sorted: a rename never loses or changes one.
Entries file_contents(const std::filesystem::path& root);

// What the tool prints first, every time.
inline const std::string HEADER =
    "\nkirlatin " KIRLATIN_VERSION
    "\nRename all files and subdirectories from cyrillic to translit\n\n";

struct RunOptions {
    std::filesystem::path working_directory;  // empty: the test's own
    bool unprivileged = false;  // as root: as user nobody, given all in working_directory
    std::string preload;        // a shared object for LD_PRELOAD
    enum {
        captured,     // a pipe, read to the end
        to_file,      // a regular file, read once the run has ended
        terminal,     // a pseudo-terminal, through script(1); read as the terminal shows it,
                      // without carriage returns and cursor controls
        closed,       // no standard output at all
        reader_gone,  // a pipe whose reader has gone before the run starts
    } stdout_mode = captured;
    int stop_signal = 0;              // sent once stop_when() is true, checked every millisecond
    std::function<bool()> stop_when;  // not with stdout_mode captured: the pipe is read after
};

struct RunResult {
    int exit_code = -1;  // -1 when a signal ended the process
    int signal = 0;      // the signal that ended it, or 0
    std::string output;  // standard output, byte for byte
};

// Runs command[0] with command[1...] as its arguments, and waits for it.
RunResult run_program(const Entries& command, const RunOptions& options = {});

// Runs the built binary with these arguments (the program's name is added).
RunResult run_kirlatin(const Entries& arguments, const RunOptions& options = {});

}  // namespace testing_support
