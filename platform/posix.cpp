// The platform services on Linux and macOS: byte-string names converted losslessly to UTF-16,
// directories opened relative to their parent's descriptor, moves within one descriptor that never
// replace, UTF-8 on standard output.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/utf8.h"

const char16_t PATH_SEPARATOR[] = u"/";
const char16_t COMPONENT_SEPARATORS[] = u"/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s/%s";

namespace {

// Bytes for any path that fits a path buffer, however it encodes.
constexpr std::size_t PATH_BYTES = utf8_capacity_for(PATH_UNITS);

// Standard output. On a terminal every line is written at once. Anywhere else whole lines are
// kept back and written when the buffer fills, when the walk ends (console_flush) and when
// SIGINT, SIGTERM or SIGHUP ask the process to stop. The handler only records the signal; the
// next platform call writes out what is kept back, for half a second at most, and ends the
// process by that same signal, so no line of a rename that happened is lost to a stop request
// unless the output has stalled.
constexpr std::size_t KEPT_BYTES = 64 * 1024;
char kept[KEPT_BYTES];
std::size_t kept_start = 0;  // kept[kept_start, kept_end) is still to be written
std::size_t kept_end = 0;
enum class OutputMode { undecided, immediate, kept_back };
OutputMode output_mode = OutputMode::undecided;
volatile sig_atomic_t stop_signal = 0;

// While a write waits, in the kept-back mode, a timer ticks, so that no wait outlasts a stop
// request by more than a tick, and the lines written for a stop request get GRACE_TICKS at most.
constexpr suseconds_t TICK_MICROSECONDS = 100 * 1000;
constexpr sig_atomic_t GRACE_TICKS = 5;
volatile sig_atomic_t ticks = 0;
bool stopping = false;  // the stop request is being honoured

extern "C" void record_stop_request(int signal_number) {
    stop_signal = signal_number;
}

extern "C" void count_tick(int) {
    ticks = ticks + 1;
}

// Installs handler for signal_number with no SA_RESTART, so that a write blocked on a stalled
// reader gives way to it.
void interrupt_with(int signal_number, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

void decide_output_mode() {
    if (isatty(STDOUT_FILENO)) {
        output_mode = OutputMode::immediate;
        return;
    }
    output_mode = OutputMode::kept_back;
    interrupt_with(SIGALRM, count_tick);
    const int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (const int signal_number : stop_signals) {
        struct sigaction previous;
        // A signal ignored by whoever started the tool (nohup, for one) stays ignored.
        if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            interrupt_with(signal_number, record_stop_request);
        }
    }
}

void set_ticking(bool on) {
    const suseconds_t tick = on ? TICK_MICROSECONDS : 0;
    const itimerval timer = {{0, tick}, {0, tick}};
    setitimer(ITIMER_REAL, &timer, nullptr);
}

// True when a write must give way: to a stop request while the walk runs, to the end of the grace
// while a stop request is honoured.
bool must_give_way() {
    return stopping ? ticks >= GRACE_TICKS : stop_signal != 0;
}

// Writes bytes to standard output whole, waiting (poll) for an output that is not ready. False
// when the write fails, or gives way to a stop request; *done then tells how much was written.
bool write_out(const char* bytes, std::size_t length, std::size_t* done) {
    *done = 0;
    const bool ticking = output_mode == OutputMode::kept_back;
    if (ticking) {
        set_ticking(true);
    }
    bool whole = true;
    while (whole && *done < length) {
        if (must_give_way()) {
            whole = false;
            break;
        }
        const ssize_t written = write(STDOUT_FILENO, bytes + *done, length - *done);
        if (written > 0) {
            *done += static_cast<std::size_t>(written);
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd output = {STDOUT_FILENO, POLLOUT, 0};
            whole = poll(&output, 1, -1) >= 0 || errno == EINTR;
        } else {
            whole = written < 0 && errno == EINTR;
        }
    }
    if (ticking) {
        set_ticking(false);
    }
    return whole;
}

// Writes out the kept lines. A failed write loses them (the reader has gone, the disk is full);
// one that gave way to a stop request keeps what is left, for the stop to write.
bool write_kept() {
    std::size_t done = 0;
    const bool written = write_out(kept + kept_start, kept_end - kept_start, &done);
    kept_start += done;
    if (written || !must_give_way()) {
        kept_start = kept_end = 0;
    }
    return written;
}

// Writes out the kept lines and then `pending`, a line not kept yet, within the grace, and ends
// the process by the stop request.
[[noreturn]] void end_by_stop_request(const char* pending, std::size_t length) {
    const int signal_number = stop_signal;
    stopping = true;
    ticks = 0;
    std::size_t done = 0;
    if (write_kept()) {
        write_out(pending, length, &done);
    }
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    _exit(128 + signal_number);  // not reached: the default action ends the process
}

// Called at the start or end of every platform operation: between two of them the walk only
// computes, so a stop request is honoured within one operation.
void honour_stop_request() {
    if (stop_signal != 0) {
        end_by_stop_request(nullptr, 0);
    }
}

bool to_bytes(const char16_t* text, char (&bytes)[PATH_BYTES]) {
    std::size_t length = 0;
    return utf16_to_utf8(text, text_length(text), bytes, PATH_BYTES, &length);
}

// What an errno from opening or renaming by name tells the walk.
Outcome outcome_of(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return Outcome::gone;
        case ELOOP:
            return Outcome::link;
        case EEXIST:
        case ENOTEMPTY:
            return Outcome::name_taken;
        case EACCES:
        case EPERM:
        case EROFS:
            return Outcome::no_permission;
        case ENAMETOOLONG:
            return Outcome::path_too_long;
        default:
            return Outcome::failed;
    }
}

DIR* as_dir(const Directory& dir) {
    return static_cast<DIR*>(dir.handle);
}

int descriptor(const Directory& dir) {
    return dirfd(as_dir(dir));
}

// Takes over fd, an open directory or -1 with errno set.
Outcome take_directory(int fd, Directory* dir) {
    DIR* listing = fd < 0 ? nullptr : fdopendir(fd);
    if (listing == nullptr) {
        const Outcome outcome = outcome_of(errno);
        if (fd >= 0) {
            close(fd);
        }
        return outcome;
    }
    dir->handle = listing;
    dir->state = nullptr;
    return Outcome::done;
}

// Uses the entry type readdir gives; only where the file system gives none is the entry itself
// asked, never what a link points to.
bool entry_is_directory(DIR* dir, const dirent* entry) {
    if (entry->d_type != DT_UNKNOWN) {
        return entry->d_type == DT_DIR;
    }
    struct stat status;
    return fstatat(dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(status.st_mode);
}

bool is_dot_or_dot_dot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool refused_flag(int error) {
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

bool names_file(int dir, const char* name, const struct stat& file) {
    struct stat status;
    return fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && status.st_dev == file.st_dev &&
           status.st_ino == file.st_ino;
}

// For file systems that cannot rename without replacing: a hard link to the new name fails when
// that name is taken, and for a directory, which is thus never moved. The old name is removed
// only while both names still stand for the file that was linked; otherwise the link is undone,
// and only while it is still the tool's own.
Outcome move_by_link(int dir, const char* old_name, const char* new_name) {
    struct stat file;
    if (fstatat(dir, old_name, &file, AT_SYMLINK_NOFOLLOW) != 0) {
        return outcome_of(errno);
    }
    // Flags 0: a symbolic link is linked itself, never its target.
    if (linkat(dir, old_name, dir, new_name, 0) != 0) {
        // EPERM: no hard links here, or a directory, which is never linked.
        return errno == EPERM || refused_flag(errno) ? Outcome::not_supported : outcome_of(errno);
    }
    const bool linked = names_file(dir, new_name, file);
    if (linked && names_file(dir, old_name, file) && unlinkat(dir, old_name, 0) == 0) {
        return Outcome::done;
    }
    if (linked) {
        unlinkat(dir, new_name, 0);  // the old name stays: undo the second one
    }
    return Outcome::failed;
}

Outcome move_bytes(int dir, const char* old_name, const char* new_name) {
#if defined(__APPLE__)
    const int result = renameatx_np(dir, old_name, dir, new_name, RENAME_EXCL);
#else
    const int result = renameat2(dir, old_name, dir, new_name, RENAME_NOREPLACE);
#endif
    if (result == 0) {
        return Outcome::done;
    }
    // A file system that cannot rename without replacing says so; never fall back to rename().
    return refused_flag(errno) ? move_by_link(dir, old_name, new_name) : outcome_of(errno);
}

}  // namespace

Outcome open_directory_path(const char16_t* path, Directory* dir) {
    honour_stop_request();
    char bytes[PATH_BYTES];
    if (!to_bytes(path, bytes)) {
        return Outcome::path_too_long;
    }
    return take_directory(open(bytes[0] == '\0' ? "." : bytes, O_RDONLY | O_DIRECTORY | O_CLOEXEC),
                          dir);
}

Outcome open_directory(const Directory& parent, const char16_t* name, LinkPolicy links,
                       Directory* dir) {
    honour_stop_request();
    char bytes[PATH_BYTES];
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (links == LinkPolicy::refuse) {
        flags |= O_NOFOLLOW;
    }
    if (!to_bytes(name, bytes)) {
        return Outcome::path_too_long;
    }
    return take_directory(openat(descriptor(parent), bytes, flags), dir);
}

Listing read_entry(Directory* dir, DirEntry* entry) {
    honour_stop_request();
    DIR* listing = as_dir(*dir);
    errno = 0;
    while (const dirent* found = readdir(listing)) {
        std::size_t units = 0;
        if (!is_dot_or_dot_dot(found->d_name) &&
            utf8_to_utf16(found->d_name, strlen(found->d_name), entry->name, PATH_UNITS, &units)) {
            entry->is_directory = entry_is_directory(listing, found);
            return Listing::entry;
        }
        errno = 0;
    }
    return errno == 0 ? Listing::end : Listing::failed;
}

void close_directory(Directory* dir) {
    closedir(as_dir(*dir));
    dir->handle = nullptr;
}

Outcome move_without_replacing(const Directory& dir, const char16_t* old_name,
                               const char16_t* new_name) {
    honour_stop_request();
    char old_bytes[PATH_BYTES];
    char new_bytes[PATH_BYTES];
    if (!to_bytes(old_name, old_bytes) || !to_bytes(new_name, new_bytes)) {
        return Outcome::path_too_long;
    }
    return move_bytes(descriptor(dir), old_bytes, new_bytes);
}

bool is_directory(const char16_t* path) {
    char bytes[PATH_BYTES];
    struct stat status;
    return to_bytes(path, bytes) && stat(bytes, &status) == 0 && S_ISDIR(status.st_mode);
}

bool console_write(const char16_t* text, std::size_t units) {
    char bytes[PATH_BYTES];
    std::size_t length = 0;
    if (units >= PATH_UNITS || !utf16_to_utf8(text, units, bytes, sizeof bytes, &length)) {
        return false;
    }
    if (output_mode == OutputMode::undecided) {
        decide_output_mode();
    }
    if (output_mode == OutputMode::immediate) {
        std::size_t done = 0;
        return write_out(bytes, length, &done);
    }
    // Only a write that gave way to a stop request leaves the buffer without room; the line then
    // follows the kept ones out.
    if (length > KEPT_BYTES - kept_end && !write_kept() && stop_signal != 0) {
        end_by_stop_request(bytes, length);
    }
    memcpy(kept + kept_end, bytes, length);
    kept_end += length;
    honour_stop_request();
    return true;
}

bool console_flush() {
    const bool written = write_kept();
    honour_stop_request();
    return written;
}
