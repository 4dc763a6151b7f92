// Test support: temporary trees and runs of the real binary in a child process.
#include "testing/test_tree.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

const std::string ARROW = " -> ";
constexpr unsigned NOBODY = 65534;

void must(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(what);
    }
}

// The binary copied where any user may run it: the build may sit where nobody cannot reach.
const std::string& binary_for_nobody() {
    static const TempDir directory;
    static const std::string copy = [] {
        fs::permissions(directory.path, fs::perms::owner_all | fs::perms::others_exec);
        fs::copy_file(KIRLATIN_BINARY, directory.path / "kirlatin");
        return (directory.path / "kirlatin").string();
    }();
    return copy;
}

std::string shell_quoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kirlatin-test-XXXXXX").string();
    must(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    path = pattern;
}

TempDir::~TempDir() {
    // Tests take permissions away and build trees deeper than any path can name: chmod and rm
    // walk them by descriptor.
    const std::string quoted = shell_quoted(path.string());
    const int ignored =
        std::system(("chmod -R u+rwx " + quoted + " 2>/dev/null; rm -rf " + quoted).c_str());
    static_cast<void>(ignored);
}

void make_tree(const fs::path& root, const Entries& entries) {
    for (const std::string& entry : entries) {
        const std::size_t arrow = entry.find(ARROW);
        const fs::path path = root / entry.substr(0, arrow);
        fs::create_directories(path.parent_path());
        if (arrow != std::string::npos) {
            fs::create_symlink(entry.substr(arrow + ARROW.size()), path);
        } else if (entry.back() == '/') {
            fs::create_directories(path);
        } else {
            must(static_cast<bool>(std::ofstream(path, std::ios::binary) << entry), "make file");
        }
    }
}

Entries numbered(const std::string& prefix, int count) {
    Entries names;
    for (int i = 0; i < count; ++i) {
        names.push_back(prefix + std::to_string(i));
    }
    return names;
}

Entries list_tree(const fs::path& root) {
    Entries paths;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        std::string relative = item.path().lexically_relative(root).string();
        if (item.is_symlink()) {
            relative += ARROW + fs::read_symlink(item.path()).string();
        } else if (item.is_directory()) {
            relative += '/';
        }
        paths.push_back(relative);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

Entries file_contents(const fs::path& root) {
    Entries contents;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (item.is_regular_file() && !item.is_symlink()) {
            std::ifstream in(item.path(), std::ios::binary);
            contents.emplace_back(std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>());
        }
    }
    std::sort(contents.begin(), contents.end());
    return contents;
}

RunResult run_program(const Entries& command, const RunOptions& options) {
    const bool as_nobody = options.unprivileged && geteuid() == 0;
    if (as_nobody) {
        must(lchown(options.working_directory.c_str(), NOBODY, NOBODY) == 0, "lchown");
        for (const auto& item : fs::recursive_directory_iterator(options.working_directory)) {
            must(lchown(item.path().c_str(), NOBODY, NOBODY) == 0, "lchown");
        }
    }
    Entries words = command;
    if (as_nobody && words[0] == KIRLATIN_BINARY) {
        words[0] = binary_for_nobody();
    }
    if (options.stdout_mode == RunOptions::terminal) {
        std::string line;
        for (const std::string& word : words) {
            line += shell_quoted(word) + ' ';
        }
        words = {"/usr/bin/script", "--quiet", "--return", "--command", line, "/dev/null"};
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int output[2];
    must(pipe2(output, O_CLOEXEC) == 0, "pipe");
    if (options.stdout_mode == RunOptions::reader_gone) {
        close(output[0]);  // before the child starts, so that no write ever finds a reader
    }
    FILE* file = options.stdout_mode == RunOptions::to_file ? tmpfile() : nullptr;
    must(options.stdout_mode != RunOptions::to_file || file != nullptr, "tmpfile");
    const pid_t child = fork();
    must(child >= 0, "fork");
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL);  // the tool itself must survive a reader that has gone
        dup2(file != nullptr ? fileno(file) : output[1], STDOUT_FILENO);
        if (options.stdout_mode == RunOptions::closed) {
            close(STDOUT_FILENO);
        }
        const int no_input = open("/dev/null", O_RDONLY);
        dup2(no_input, STDIN_FILENO);
        // A sanitizer finding must not pass for the tool's own exit code 1.
        setenv("ASAN_OPTIONS", "exitcode=99:verify_asan_link_order=0:detect_leaks=0", 1);
        setenv("UBSAN_OPTIONS", "exitcode=99:print_stacktrace=1", 1);
        if (!options.preload.empty()) {
            setenv("LD_PRELOAD", options.preload.c_str(), 1);
        }
        if ((options.working_directory.empty() || chdir(options.working_directory.c_str()) == 0) &&
            (!as_nobody ||
             (setgroups(0, nullptr) == 0 && setgid(NOBODY) == 0 && setuid(NOBODY) == 0))) {
            execv(argv[0], argv.data());
        }
        _exit(127);
    }
    close(output[1]);
    int status = 0;
    bool ended = false;
    if (options.stop_signal != 0) {
        while (!options.stop_when() && !(ended = waitpid(child, &status, WNOHANG) == child)) {
            usleep(1000);
        }
        if (!ended) {
            kill(child, options.stop_signal);
        }
    }
    RunResult result;
    char buffer[4096];
    ssize_t got = 0;
    const bool reads_pipe = options.stdout_mode != RunOptions::reader_gone;
    while (reads_pipe && (got = read(output[0], buffer, sizeof buffer)) > 0) {
        result.output.append(buffer, static_cast<std::size_t>(got));
    }
    if (reads_pipe) {
        close(output[0]);
    }
    must(ended || waitpid(child, &status, 0) == child, "waitpid");
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (file != nullptr) {
        must(lseek(fileno(file), 0, SEEK_SET) == 0, "lseek");
        while ((got = read(fileno(file), buffer, sizeof buffer)) > 0) {
            result.output.append(buffer, static_cast<std::size_t>(got));
        }
        fclose(file);
    }
    if (options.stdout_mode == RunOptions::terminal) {
        // As the terminal shows it: without cursor controls and carriage returns.
        const std::regex controls("\x1b\\[[0-9;?]*[a-zA-Z]|\r");
        result.output = std::regex_replace(result.output, controls, "");
    }
    return result;
}

RunResult run_kirlatin(const Entries& arguments, const RunOptions& options) {
    Entries command{KIRLATIN_BINARY};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return run_program(command, options);
}

}  // namespace testing_support
