// The platform services on Linux and macOS: byte-string names converted losslessly to UTF-16,
// listings through open/fdopendir/readdir, moves that never replace, UTF-8 on standard output.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/utf8.h"

const char16_t PATH_SEPARATOR[] = u"/";
const char16_t COMPONENT_SEPARATORS[] = u"/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s/%s";
const char16_t LISTING_PATTERN_FORMAT[] = u"%s";

namespace {

// Bytes for any path that fits a path buffer, however it encodes.
constexpr std::size_t PATH_BYTES = utf8_capacity_for(PATH_UNITS);

bool to_bytes(const char16_t* path, char (&bytes)[PATH_BYTES]) {
    std::size_t length = 0;
    return utf16_to_utf8(path, text_length(path), bytes, PATH_BYTES, &length);
}

DIR* as_dir(const DirListing* listing) {
    return static_cast<DIR*>(listing->handle);
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

// For file systems that cannot rename without replacing: a hard link to the new name fails when
// that name is taken, and for a directory, which is thus never moved. The old name is removed
// only once the new one stands, and the link is undone when that removal fails.
bool move_by_link(const char* old_path, const char* new_path) {
    // Flags 0: a symbolic link is linked itself, never its target.
    if (linkat(AT_FDCWD, old_path, AT_FDCWD, new_path, 0) != 0) {
        return false;
    }
    if (unlink(old_path) == 0) {
        return true;
    }
    unlink(new_path);  // the old name stays: undo the second one
    return false;
}

bool move_bytes(const char* old_path, const char* new_path) {
#if defined(__APPLE__)
    const int result = renamex_np(old_path, new_path, RENAME_EXCL);
#else
    const int result = renameat2(AT_FDCWD, old_path, AT_FDCWD, new_path, RENAME_NOREPLACE);
#endif
    if (result == 0) {
        return true;
    }
    // A file system that cannot rename without replacing says so; never fall back to rename().
    return refused_flag(errno) && move_by_link(old_path, new_path);
}

}  // namespace

bool listing_first(const char16_t* pattern, LinkPolicy links, DirListing* listing,
                   DirEntry* entry) {
    char path[PATH_BYTES];
    if (!to_bytes(pattern, path)) {
        return false;
    }
    // The walk composes "/name" from the root "/" trimmed to nothing.
    const char* directory = path[0] == '\0' ? "/" : path;
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (links == LinkPolicy::refuse) {
        flags |= O_NOFOLLOW;
    }
    const int fd = open(directory, flags);
    if (fd < 0) {
        return false;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return false;
    }
    listing->handle = dir;
    listing->guard = nullptr;  // the open descriptor is the directory itself
    if (listing_next(listing, entry)) {
        return true;
    }
    listing_close(listing);
    return false;
}

bool listing_next(DirListing* listing, DirEntry* entry) {
    DIR* dir = as_dir(listing);
    while (const dirent* found = readdir(dir)) {
        if (is_dot_or_dot_dot(found->d_name)) {
            continue;
        }
        std::size_t units = 0;
        if (!utf8_to_utf16(found->d_name, strlen(found->d_name), entry->name, PATH_UNITS, &units)) {
            continue;
        }
        entry->is_directory = entry_is_directory(dir, found);
        return true;
    }
    return false;
}

void listing_close(DirListing* listing) {
    closedir(as_dir(listing));
    listing->handle = nullptr;
}

bool move_without_replacing(const char16_t* old_path, const char16_t* new_path) {
    char old_bytes[PATH_BYTES];
    char new_bytes[PATH_BYTES];
    return to_bytes(old_path, old_bytes) && to_bytes(new_path, new_bytes) &&
           move_bytes(old_bytes, new_bytes);
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
    std::size_t done = 0;
    while (done < length) {
        const ssize_t written = write(STDOUT_FILENO, bytes + done, length - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}
