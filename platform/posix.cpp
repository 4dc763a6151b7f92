// The platform services on Linux and macOS: byte-string names converted losslessly to UTF-16,
// directories opened relative to their parent's descriptor, moves within one descriptor that never
// replace, UTF-8 on standard output.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
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
// next platform call writes out what is kept back and ends the process by that same signal, so
// no line of a rename that happened is lost to a stop request.
constexpr std::size_t KEPT_BYTES = 64 * 1024;
char kept[KEPT_BYTES];
std::size_t kept_start = 0;  // kept[kept_start, kept_end) is still to be written
std::size_t kept_end = 0;
enum class OutputMode { undecided, immediate, kept_back };
OutputMode output_mode = OutputMode::undecided;
volatile sig_atomic_t stop_signal = 0;

extern "C" void record_stop_request(int signal_number) {
    stop_signal = signal_number;
}

void decide_output_mode() {
    if (isatty(STDOUT_FILENO)) {
        output_mode = OutputMode::immediate;
        return;
    }
    output_mode = OutputMode::kept_back;
    const int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (const int signal_number : stop_signals) {
        struct sigaction previous;
        // A signal ignored by whoever started the tool (nohup, for one) stays ignored.
        if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            struct sigaction stop = {};
            stop.sa_handler = record_stop_request;
            sigemptyset(&stop.sa_mask);
            stop.sa_flags = 0;  // no SA_RESTART: a write blocked on a stalled reader gives way
            sigaction(signal_number, &stop, nullptr);
        }
    }
}

// Writes bytes to standard output whole. False when the write fails, or when a stop request
// interrupts it; *done then tells how much was written.
bool write_out(const char* bytes, std::size_t length, std::size_t* done) {
    *done = 0;
    while (*done < length) {
        const ssize_t written = write(STDOUT_FILENO, bytes + *done, length - *done);
        if (written > 0) {
            *done += static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR && stop_signal == 0) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

// Writes out the kept lines. A failed write loses them (the reader has gone, the disk is full);
// one interrupted by a stop request keeps what is left, for the stop to try once more.
bool write_kept() {
    std::size_t done = 0;
    const bool written = write_out(kept + kept_start, kept_end - kept_start, &done);
    kept_start += done;
    if (written || !(errno == EINTR && stop_signal != 0)) {
        kept_start = kept_end = 0;
    }
    return written;
}

// Called at the start or end of every platform operation: between two of them the walk only
// computes, so a stop request is honoured within one operation.
void honour_stop_request() {
    const int signal_number = stop_signal;
    if (signal_number == 0) {
        return;
    }
    write_kept();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    _exit(128 + signal_number);  // not reached: the default action ends the process
}

bool to_bytes(const char16_t* text, char (&bytes)[PATH_BYTES]) {
    std::size_t length = 0;
    return utf16_to_utf8(text, text_length(text), bytes, PATH_BYTES, &length);
}

DIR* as_dir(const Directory& dir) {
    return static_cast<DIR*>(dir.handle);
}

int descriptor(const Directory& dir) {
    return dirfd(as_dir(dir));
}

// Takes over fd, an open directory or -1.
bool take_directory(int fd, Directory* dir) {
    DIR* listing = fd < 0 ? nullptr : fdopendir(fd);
    if (listing == nullptr) {
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    dir->handle = listing;
    dir->state = nullptr;
    return true;
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
bool move_by_link(int dir, const char* old_name, const char* new_name) {
    struct stat file;
    // Flags 0: a symbolic link is linked itself, never its target.
    if (fstatat(dir, old_name, &file, AT_SYMLINK_NOFOLLOW) != 0 ||
        linkat(dir, old_name, dir, new_name, 0) != 0) {
        return false;
    }
    const bool linked = names_file(dir, new_name, file);
    if (linked && names_file(dir, old_name, file) && unlinkat(dir, old_name, 0) == 0) {
        return true;
    }
    if (linked) {
        unlinkat(dir, new_name, 0);  // the old name stays: undo the second one
    }
    return false;
}

bool move_bytes(int dir, const char* old_name, const char* new_name) {
#if defined(__APPLE__)
    const int result = renameatx_np(dir, old_name, dir, new_name, RENAME_EXCL);
#else
    const int result = renameat2(dir, old_name, dir, new_name, RENAME_NOREPLACE);
#endif
    if (result == 0) {
        return true;
    }
    // A file system that cannot rename without replacing says so; never fall back to rename().
    return refused_flag(errno) && move_by_link(dir, old_name, new_name);
}

}  // namespace

bool open_directory_path(const char16_t* path, Directory* dir) {
    honour_stop_request();
    char bytes[PATH_BYTES];
    return to_bytes(path, bytes) &&
           take_directory(open(bytes[0] == '\0' ? "." : bytes, O_RDONLY | O_DIRECTORY | O_CLOEXEC),
                          dir);
}

bool open_directory(const Directory& parent, const char16_t* name, LinkPolicy links,
                    Directory* dir) {
    honour_stop_request();
    char bytes[PATH_BYTES];
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (links == LinkPolicy::refuse) {
        flags |= O_NOFOLLOW;
    }
    return to_bytes(name, bytes) && take_directory(openat(descriptor(parent), bytes, flags), dir);
}

bool read_entry(Directory* dir, DirEntry* entry) {
    honour_stop_request();
    DIR* listing = as_dir(*dir);
    while (const dirent* found = readdir(listing)) {
        if (is_dot_or_dot_dot(found->d_name)) {
            continue;
        }
        std::size_t units = 0;
        if (!utf8_to_utf16(found->d_name, strlen(found->d_name), entry->name, PATH_UNITS, &units)) {
            continue;
        }
        entry->is_directory = entry_is_directory(listing, found);
        return true;
    }
    return false;
}

void close_directory(Directory* dir) {
    closedir(as_dir(*dir));
    dir->handle = nullptr;
}

bool move_without_replacing(const Directory& dir, const char16_t* old_name,
                            const char16_t* new_name) {
    honour_stop_request();
    char old_bytes[PATH_BYTES];
    char new_bytes[PATH_BYTES];
    return to_bytes(old_name, old_bytes) && to_bytes(new_name, new_bytes) &&
           move_bytes(descriptor(dir), old_bytes, new_bytes);
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
    if (length > KEPT_BYTES - kept_end) {
        write_kept();
    }
    const bool fits = length <= KEPT_BYTES - kept_end;
    if (fits) {
        memcpy(kept + kept_end, bytes, length);
        kept_end += length;
    }
    honour_stop_request();
    return fits;
}

bool console_flush() {
    return kept_start == kept_end || write_kept();
}
