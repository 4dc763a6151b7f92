// The file-system services on Linux and macOS: byte-string names converted losslessly to UTF-16,
// directories opened relative to their parent's descriptor, moves within one descriptor that never
// replace.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/utf8.h"

const char16_t COMPONENT_SEPARATORS[] = u"/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s/%s";

struct Directory {
    DIR* listing;
};

namespace {

// Bytes for any path that fits a path buffer, however it encodes.
constexpr std::size_t PATH_BYTES = utf8_capacity_for(PATH_UNITS);

bool to_bytes(const char16_t* text, char (&bytes)[PATH_BYTES]) {
    std::size_t length = 0;
    return utf16_to_utf8(text, text_length(text), bytes, PATH_BYTES, &length);
}

// What an errno from opening a directory tells the walk.
Outcome open_outcome(int error, LinkPolicy links) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return Outcome::gone;
        case ELOOP:
            return links == LinkPolicy::refuse ? Outcome::link : Outcome::failed;
        case EACCES:
        case EPERM:
            return Outcome::no_permission;
        case ENAMETOOLONG:
            return Outcome::path_too_long;
        default:
            return Outcome::failed;
    }
}

// What an errno from renaming or linking an entry tells the walk.
Outcome move_outcome(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return Outcome::gone;
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

int descriptor(const Directory* dir) {
    return dirfd(dir->listing);
}

// Takes over fd, an open directory, or -1 with errno set.
Outcome take_directory(int fd, LinkPolicy links, Directory** opened) {
    if (fd < 0) {
        return open_outcome(errno, links);
    }
    DIR* listing = fdopendir(fd);
    if (listing == nullptr) {
        close(fd);
        return Outcome::failed;
    }
    // malloc, not new: the program needs nothing but the C library.
    *opened = static_cast<Directory*>(malloc(sizeof(Directory)));
    if (*opened == nullptr) {
        closedir(listing);
        return Outcome::failed;
    }
    (*opened)->listing = listing;
    return Outcome::done;
}

// Uses the entry type readdir gives; only where the file system gives none is the entry itself
// asked, never what a link points to.
EntryKind kind_of(DIR* dir, const dirent* entry) {
    unsigned char type = entry->d_type;
    struct stat status;
    if (type == DT_UNKNOWN &&
        fstatat(dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISLNK(status.st_mode) ? DT_LNK : DT_REG;
    }
    return type == DT_DIR   ? EntryKind::directory
           : type == DT_LNK ? EntryKind::link
                            : EntryKind::other;
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
        return move_outcome(errno);
    }
    // Flags 0: a symbolic link is linked itself, never its target.
    if (linkat(dir, old_name, dir, new_name, 0) != 0) {
        // EPERM: no hard links here, or a directory, which is never linked.
        return errno == EPERM || refused_flag(errno) ? Outcome::not_supported : move_outcome(errno);
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

}  // namespace

Outcome open_directory_path(const char16_t* path, Directory** opened) {
    char bytes[PATH_BYTES];
    if (!to_bytes(path, bytes)) {
        return Outcome::path_too_long;
    }
    return take_directory(open(bytes[0] == '\0' ? "." : bytes, O_RDONLY | O_DIRECTORY | O_CLOEXEC),
                          LinkPolicy::follow, opened);
}

Outcome open_directory(Directory* parent, const char16_t* name, LinkPolicy links,
                       Directory** opened) {
    char bytes[PATH_BYTES];
    if (!to_bytes(name, bytes)) {
        return Outcome::path_too_long;
    }
    const int flags =
        O_RDONLY | O_DIRECTORY | O_CLOEXEC | (links == LinkPolicy::refuse ? O_NOFOLLOW : 0);
    return take_directory(openat(descriptor(parent), bytes, flags), links, opened);
}

Listing read_entry(Directory* dir, DirEntry* entry) {
    errno = 0;
    while (const dirent* found = readdir(dir->listing)) {
        std::size_t units = 0;
        if (!is_dot_or_dot_dot(found->d_name) &&
            utf8_to_utf16(found->d_name, strlen(found->d_name), entry->name, PATH_UNITS, &units)) {
            entry->kind = kind_of(dir->listing, found);
            return Listing::entry;
        }
        errno = 0;
    }
    return errno == 0 ? Listing::end : Listing::failed;
}

void close_directory(Directory* dir) {
    closedir(dir->listing);
    free(dir);
}

Outcome move_without_replacing(Directory* dir, const char16_t* old_name, const char16_t* new_name) {
    char old_bytes[PATH_BYTES];
    char new_bytes[PATH_BYTES];
    if (!to_bytes(old_name, old_bytes) || !to_bytes(new_name, new_bytes)) {
        return Outcome::path_too_long;
    }
#if defined(__APPLE__)
    const int result =
        renameatx_np(descriptor(dir), old_bytes, descriptor(dir), new_bytes, RENAME_EXCL);
#else
    const int result =
        renameat2(descriptor(dir), old_bytes, descriptor(dir), new_bytes, RENAME_NOREPLACE);
#endif
    if (result == 0) {
        return Outcome::done;
    }
    // A file system that cannot rename without replacing says so; never fall back to rename().
    return refused_flag(errno) ? move_by_link(descriptor(dir), old_bytes, new_bytes)
                               : move_outcome(errno);
}

bool is_directory(const char16_t* path) {
    char bytes[PATH_BYTES];
    struct stat status;
    return to_bytes(path, bytes) && stat(bytes, &status) == 0 && S_ISDIR(status.st_mode);
}
