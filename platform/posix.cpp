// The file-system services on Linux and macOS: byte-string names converted losslessly to UTF-16,
// directories opened relative to their parent's descriptor and never across a mount, listings
// that meet each entry once, and moves within one descriptor that never replace, with a fallback
// for file systems that cannot rename without replacing (FUSE, exFAT and FAT on macOS).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>  // renameat2
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

#include "platform/platform.h"
#include "platform/utf8.h"

const char16_t COMPONENT_SEPARATORS[] = u"/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s/%s";

namespace {

// Bytes for any path that fits a path buffer, however it encodes.
constexpr std::size_t PATH_BYTES = utf8_capacity_for(PATH_UNITS);

#if defined(__linux__)
// One listing call's worth of entries per open directory: small enough that a tree 120 levels
// deep, 700 entries a level, stays well within 2 MiB, large enough for the fifty or so names of
// a typical directory in one call.
constexpr std::size_t LISTING_BYTES = 2048;
constexpr int SEARCH_ONLY = O_PATH;
#elif defined(O_SEARCH)
constexpr int SEARCH_ONLY = O_SEARCH;
#else
constexpr int SEARCH_ONLY = O_RDONLY;
#endif

}  // namespace

struct Directory {
    int fd;
    // The entry read_entry gave last, which a move of that entry remembers.
    const char* last_name;
    ino_t last_inode;
    // The directories moved within this one while it is listed: records of an inode number, a
    // length byte and the new name's bytes, grown with malloc as they come.
    char* moved;
    std::size_t moved_bytes;
    std::size_t moved_capacity;
#if defined(__linux__)
    std::size_t next;    // where the next record of `records` starts
    std::size_t filled;  // bytes the last getdents64 call gave
    alignas(dirent64) char records[LISTING_BYTES];
#else
    DIR* listing;  // nullptr for a directory opened to reach its entries alone
#endif
};

namespace {

bool to_bytes(const char16_t* text, char (&bytes)[PATH_BYTES]) {
    std::size_t length = 0;
    return utf16_to_utf8(text, text_length(text), bytes, PATH_BYTES, &length);
}

// The outcomes that opening and moving share.
Outcome common_outcome(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return Outcome::gone;
        case EACCES:
        case EPERM:
        case EROFS:
            return Outcome::no_permission;
        case ENAMETOOLONG:
            return Outcome::path_too_long;
        case EMFILE:
        case ENFILE:
            return Outcome::too_many_open_files;
        default:
            return Outcome::failed;
    }
}

// What an errno from opening a directory tells the walk. Under LinkPolicy::refuse, ELOOP is a
// link and EXDEV a mount point, as open_within makes them.
Outcome open_outcome(int error, LinkPolicy links) {
    if (links == LinkPolicy::refuse && (error == ELOOP || error == EXDEV)) {
        return error == ELOOP ? Outcome::link : Outcome::mount_point;
    }
    return common_outcome(error);
}

// What an errno from renaming, linking or claiming an entry tells the walk.
Outcome move_outcome(int error) {
    switch (error) {
        case EEXIST:
        case ENOTEMPTY:
            return Outcome::name_taken;
        case ENOSPC:
        case EDQUOT:
            return Outcome::no_space;
        case EBUSY:
            return Outcome::in_use;
        case EXDEV:
            return Outcome::other_file_system;
        default:
            return common_outcome(error);
    }
}

// Takes over fd, an open directory, or -1 with errno set.
Outcome take_directory(int fd, DirectoryUse use, LinkPolicy links, Directory** opened) {
    if (fd < 0) {
        return open_outcome(errno, links);
    }
    // malloc, not new: the program needs nothing but the C library.
    Directory* dir = static_cast<Directory*>(malloc(sizeof(Directory)));
    if (dir == nullptr) {
        close(fd);
        return Outcome::failed;
    }
    dir->fd = fd;  // every field but the records, which getdents64 fills
    dir->last_name = nullptr;
    dir->last_inode = 0;
    dir->moved = nullptr;
    dir->moved_bytes = dir->moved_capacity = 0;
#if defined(__linux__)
    dir->next = dir->filled = 0;
    (void)use;
#else
    dir->listing = nullptr;
    if (use == DirectoryUse::walk && (dir->listing = fdopendir(fd)) == nullptr) {
        free(dir);
        close(fd);
        return Outcome::failed;
    }
#endif
    *opened = dir;
    return Outcome::done;
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens the directory `name` of parent without following a link or entering a mount point:
// openat2 refuses both where the kernel has it (ELOOP, EXDEV); elsewhere a directory on another
// device than its parent is taken for a mount point, which misses a bind mount of the same one.
int open_within(int parent, const char* name) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;
#if defined(__linux__)
    static bool without_openat2 = false;
    if (!without_openat2) {
        open_how how = {};
        how.flags = flags;
        how.resolve = RESOLVE_NO_XDEV | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const int fd = static_cast<int>(syscall(SYS_openat2, parent, name, &how, sizeof how));
        if (fd >= 0 || errno != ENOSYS) {
            return fd;
        }
        without_openat2 = true;
    }
#endif
    const int fd = openat(parent, name, flags);
    struct stat inside;
    struct stat outside;
    if (fd >= 0 && fstat(fd, &inside) == 0 && fstat(parent, &outside) == 0 &&
        inside.st_dev != outside.st_dev) {
        close(fd);
        errno = EXDEV;
        return -1;
    }
    return fd;
}

// Uses the entry type the listing gives; only where the file system gives none is the entry
// itself asked, never what a link points to.
EntryKind kind_of(int dir, const char* name, unsigned char type) {
    struct stat status;
    if (type == DT_UNKNOWN && fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISLNK(status.st_mode) ? DT_LNK : DT_REG;
    }
    return type == DT_DIR   ? EntryKind::directory
           : type == DT_LNK ? EntryKind::link
                            : EntryKind::other;
}

bool is_dot_or_dot_dot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Remembers that the directory read_entry gave last now stands at new_name. Without memory for
// it, the listing may meet it once more, and the walk goes through it again: nothing is skipped.
void remember_moved(Directory* dir, const char* old_name, const char* new_name) {
    const std::size_t length = strlen(new_name);
    const std::size_t size = sizeof(ino_t) + 1 + length;
    if (dir->last_name == nullptr || strcmp(dir->last_name, old_name) != 0 || length > 255) {
        return;
    }
    if (dir->moved_bytes + size > dir->moved_capacity) {
        const std::size_t capacity = dir->moved_capacity * 2 + 256;
        char* grown = static_cast<char*>(realloc(dir->moved, capacity));
        if (grown == nullptr) {
            return;
        }
        dir->moved = grown;
        dir->moved_capacity = capacity;
    }
    char* record = dir->moved + dir->moved_bytes;
    memcpy(record, &dir->last_inode, sizeof(ino_t));
    record[sizeof(ino_t)] = static_cast<char>(length);
    memcpy(record + sizeof(ino_t) + 1, new_name, length);
    dir->moved_bytes += size;
}

// True when the listing meets, under the same inode number, a directory it gave before and that
// was moved to this name since. The name and the number together: some FUSE file systems give
// every entry one number, and a different number per name only ever makes the walk go through
// the directory twice.
bool was_moved_here(const Directory* dir, const char* name, ino_t inode) {
    for (std::size_t at = 0; at < dir->moved_bytes;) {
        ino_t recorded;
        memcpy(&recorded, dir->moved + at, sizeof recorded);
        const auto length = static_cast<unsigned char>(dir->moved[at + sizeof recorded]);
        const char* recorded_name = dir->moved + at + sizeof recorded + 1;
        if (recorded == inode && strncmp(recorded_name, name, length) == 0 &&
            name[length] == '\0') {
            return true;
        }
        at += sizeof recorded + 1 + length;
    }
    return false;
}

// Gives a listed entry to the walk unless it is "." or "..", was moved here during the listing,
// or has a name too long for a path buffer.
bool take_entry(Directory* dir, const char* name, ino_t inode, unsigned char type,
                DirEntry* entry) {
    std::size_t units = 0;
    if (is_dot_or_dot_dot(name) || (type != DT_REG && was_moved_here(dir, name, inode)) ||
        !utf8_to_utf16(name, strlen(name), entry->name, PATH_UNITS, &units)) {
        return false;
    }
    entry->kind = kind_of(dir->fd, name, type);
    dir->last_name = name;
    dir->last_inode = inode;
    return true;
}

bool refused_flag(int error) {
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

bool names_file(int dir, const char* name, const struct stat& file) {
    struct stat status;
    return fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && same_file(status, file);
}

// Holds back every signal that can be held for the few calls of a fallback move, so that no stop
// and no grace timer ends the process between its steps, with an entry under two names or a
// claim left behind. Only SIGKILL can come between them.
struct HeldSignals {
    sigset_t before;
    HeldSignals() {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &before);
    }
    ~HeldSignals() { sigprocmask(SIG_SETMASK, &before, nullptr); }
};

// Moves a file by a hard link, which fails when new_name is taken. The old name is removed only
// once both names are known to stand for the file linked; otherwise the link is undone, so that
// the file keeps its one name. Sets *refused, with nothing changed, when no link can be made
// here, or when the link cannot be told from the file (a file system whose inode numbers differ
// per name): then the caller claims the name instead.
Outcome move_by_link(int dir, const char* old_name, const char* new_name, bool* refused) {
    struct stat file;
    if (fstatat(dir, old_name, &file, AT_SYMLINK_NOFOLLOW) != 0) {
        return move_outcome(errno);
    }
    // Flags 0: a symbolic link is linked itself, never its target.
    if (linkat(dir, old_name, dir, new_name, 0) != 0) {
        // EPERM: no hard links here, or not for this user.
        *refused = errno == EPERM || errno == EMLINK || refused_flag(errno);
        return move_outcome(errno);
    }
    struct stat linked;
    if (fstatat(dir, new_name, &linked, AT_SYMLINK_NOFOLLOW) != 0) {
        return Outcome::failed;  // the link is gone already; the old name stands
    }
    if (same_file(linked, file)) {
        if (names_file(dir, old_name, file) && unlinkat(dir, old_name, 0) == 0) {
            return Outcome::done;
        }
        const int error = errno;
        unlinkat(dir, new_name, 0);
        return move_outcome(error);
    }
    // Whatever stands at new_name now and is not the file's twin is somebody else's.
    const bool twin = linked.st_mode == file.st_mode && linked.st_size == file.st_size &&
                      linked.st_mtime == file.st_mtime;
    *refused = twin && unlinkat(dir, new_name, 0) == 0;
    return twin ? Outcome::failed : Outcome::name_taken;
}

// Claims new_name with an empty entry of the tool's own, made exclusively (a directory for a
// directory, a file for anything else), and moves old_name onto it. A directory replaces only
// an empty directory, so anything put into the claim meanwhile makes the move fail; a file
// replaces its claim while that is still an empty file. A claim the move did not
// take is removed while it is still the tool's own and empty.
Outcome move_onto_claim(int dir, const char* old_name, const char* new_name, bool directory) {
    struct stat claim;
    if (directory) {
        if (mkdirat(dir, new_name, 0700) != 0) {
            return move_outcome(errno);
        }
    } else {
        const int fd =
            openat(dir, new_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            return move_outcome(errno);
        }
        close(fd);
        if (fstatat(dir, new_name, &claim, AT_SYMLINK_NOFOLLOW) != 0 || claim.st_size != 0) {
            return Outcome::name_taken;  // no longer the empty claim made: somebody else's now
        }
    }
    if (renameat(dir, old_name, dir, new_name) == 0) {
        return Outcome::done;
    }
    const int error = errno;
    if (directory) {
        unlinkat(dir, new_name, AT_REMOVEDIR);  // fails while anything stands in it
    } else if (names_file(dir, new_name, claim)) {
        unlinkat(dir, new_name, 0);
    }
    return error == ENOTDIR || error == EISDIR ? Outcome::name_taken : move_outcome(error);
}

Outcome move_by_fallback(int dir, const char* old_name, const char* new_name, EntryKind kind) {
    const HeldSignals held;
    bool refused = kind == EntryKind::directory;
    const Outcome linked =
        refused ? Outcome::not_supported : move_by_link(dir, old_name, new_name, &refused);
    return refused ? move_onto_claim(dir, old_name, new_name, kind == EntryKind::directory)
                   : linked;
}

}  // namespace

Outcome open_directory_path(const char16_t* path, DirectoryUse use, Directory** opened) {
    char bytes[PATH_BYTES];
    if (!to_bytes(path, bytes)) {
        return Outcome::path_too_long;
    }
    const int access = use == DirectoryUse::walk ? O_RDONLY : SEARCH_ONLY;
    return take_directory(open(bytes[0] == '\0' ? "." : bytes, access | O_DIRECTORY | O_CLOEXEC),
                          use, LinkPolicy::follow, opened);
}

Outcome open_directory(Directory* parent, const char16_t* name, LinkPolicy links,
                       Directory** opened) {
    char bytes[PATH_BYTES];
    if (!to_bytes(name, bytes)) {
        return Outcome::path_too_long;
    }
    const int fd = links == LinkPolicy::refuse
                       ? open_within(parent->fd, bytes)
                       : openat(parent->fd, bytes, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return take_directory(fd, DirectoryUse::walk, links, opened);
}

#if defined(__linux__)
// Lists by getdents64 straight into the directory's own records: no stream around the descriptor.
Listing read_entry(Directory* dir, DirEntry* entry) {
    for (;;) {
        if (dir->next >= dir->filled) {
            const ssize_t got = getdents64(dir->fd, dir->records, LISTING_BYTES);
            if (got <= 0) {
                return got == 0 ? Listing::end : Listing::failed;
            }
            dir->next = 0;
            dir->filled = static_cast<std::size_t>(got);
        }
        const auto* found = reinterpret_cast<const dirent64*>(dir->records + dir->next);
        dir->next += found->d_reclen;
        if (take_entry(dir, found->d_name, found->d_ino, found->d_type, entry)) {
            return Listing::entry;
        }
    }
}
#else
Listing read_entry(Directory* dir, DirEntry* entry) {
    errno = 0;
    while (const dirent* found = readdir(dir->listing)) {
        if (take_entry(dir, found->d_name, found->d_ino, found->d_type, entry)) {
            return Listing::entry;
        }
        errno = 0;
    }
    return errno == 0 ? Listing::end : Listing::failed;
}
#endif

void close_directory(Directory* dir) {
#if !defined(__linux__)
    if (dir->listing != nullptr) {
        closedir(dir->listing);  // closes fd as well
        dir->fd = -1;
    }
#endif
    if (dir->fd >= 0) {
        close(dir->fd);
    }
    free(dir->moved);
    free(dir);
}

Outcome move_without_replacing(Directory* dir, const char16_t* old_name, const char16_t* new_name,
                               EntryKind kind) {
    char old_bytes[PATH_BYTES];
    char new_bytes[PATH_BYTES];
    if (!to_bytes(old_name, old_bytes) || !to_bytes(new_name, new_bytes)) {
        return Outcome::path_too_long;
    }
#if defined(__APPLE__)
    const int result = renameatx_np(dir->fd, old_bytes, dir->fd, new_bytes, RENAME_EXCL);
#else
    const int result = renameat2(dir->fd, old_bytes, dir->fd, new_bytes, RENAME_NOREPLACE);
#endif
    // A file system that cannot rename without replacing says so; never fall back to rename().
    const Outcome moved = result == 0 ? Outcome::done
                          : !refused_flag(errno)
                              ? move_outcome(errno)
                              : move_by_fallback(dir->fd, old_bytes, new_bytes, kind);
    if (moved == Outcome::done && kind == EntryKind::directory) {
        remember_moved(dir, old_bytes, new_bytes);
    }
    return moved;
}

bool is_text_name(const char16_t* name) {
    return !holds_escaped_bytes(name);
}

bool is_directory(const char16_t* path) {
    char bytes[PATH_BYTES];
    struct stat status;
    return to_bytes(path, bytes) && stat(bytes, &status) == 0 && S_ISDIR(status.st_mode);
}
