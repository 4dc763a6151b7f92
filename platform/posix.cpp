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

// What this system offers, decided here once. The build may set either of the first two to 0, so
// that Linux runs the way macOS lists directories and finds mount points.
//   KIRLATIN_USE_GETDENTS: a listing by getdents64 into the directory's own buffer, or readdir.
//   KIRLATIN_USE_OPENAT2: links and mount points refused by openat2's RESOLVE_ flags (Linux 5.6),
//     or by O_NOFOLLOW and a device number that differs from the parent's.
//   KIRLATIN_USE_RENAMEAT2: the rename that never replaces is renameat2(RENAME_NOREPLACE), or
//     macOS's renameatx_np(RENAME_EXCL).
#if defined(__linux__)
#define KIRLATIN_USE_RENAMEAT2 1
#ifndef KIRLATIN_USE_GETDENTS
#define KIRLATIN_USE_GETDENTS 1
#endif
#ifndef KIRLATIN_USE_OPENAT2
#define KIRLATIN_USE_OPENAT2 1
#endif
#else
#define KIRLATIN_USE_RENAMEAT2 0
#define KIRLATIN_USE_GETDENTS 0
#define KIRLATIN_USE_OPENAT2 0
#endif

#if KIRLATIN_USE_OPENAT2
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

#include "platform/listing.h"
#include "platform/platform.h"
#include "platform/utf8.h"

const char16_t COMPONENT_SEPARATORS[] = u"/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s/%s";

namespace {

// Bytes for any path that fits a path buffer, however it encodes.
constexpr std::size_t PATH_BYTES = utf8_capacity_for(PATH_UNITS);

// A descriptor through which the entries of a directory are reached, never listed: the directory
// need not be readable.
#if defined(O_PATH)
constexpr int SEARCH_ONLY = O_PATH;
#elif defined(O_SEARCH)
constexpr int SEARCH_ONLY = O_SEARCH;
#else
constexpr int SEARCH_ONLY = O_RDONLY;
#endif

// One record as a listing gives it.
struct Record {
    const char* name;
    ino_t inode;
    unsigned char type;  // DT_UNKNOWN where the file system gives none
};

// The state of one directory's listing, its reading and its end.
#if KIRLATIN_USE_GETDENTS
// One listing call's worth of entries per open directory: small enough that a tree 120 levels
// deep, 700 entries a level, stays well within 2 MiB, large enough for the fifty or so names of
// a typical directory in one call.
constexpr std::size_t LISTING_BYTES = 2048;

struct ListingState {
    std::size_t next;    // where the next record of `records` starts
    std::size_t filled;  // bytes the last getdents64 call gave
    alignas(dirent64) char records[LISTING_BYTES];
};

void start_listing(ListingState* listing) {
    listing->next = listing->filled = 0;
}

// Straight into the directory's own records: no stream around the descriptor, so no fstat and
// no fcntl per directory.
Listing next_record(ListingState* listing, int fd, Record* record) {
    if (listing->next >= listing->filled) {
        const ssize_t got = getdents64(fd, listing->records, LISTING_BYTES);
        if (got <= 0) {
            return got == 0 ? Listing::end : Listing::failed;
        }
        listing->next = 0;
        listing->filled = static_cast<std::size_t>(got);
    }
    const auto* found = reinterpret_cast<const dirent64*>(listing->records + listing->next);
    listing->next += found->d_reclen;
    *record = {found->d_name, found->d_ino, found->d_type};
    return Listing::entry;
}

// Closes fd.
void end_listing(ListingState*, int fd) {
    close(fd);
}
#else
struct ListingState {
    DIR* stream;  // made at the first read: a directory held to reach the root is never listed
};

void start_listing(ListingState* listing) {
    listing->stream = nullptr;
}

Listing next_record(ListingState* listing, int fd, Record* record) {
    if (listing->stream == nullptr && (listing->stream = fdopendir(fd)) == nullptr) {
        return Listing::failed;
    }
    errno = 0;
    const dirent* found = readdir(listing->stream);
    if (found == nullptr) {
        return errno == 0 ? Listing::end : Listing::failed;
    }
    *record = {found->d_name, found->d_ino, found->d_type};
    return Listing::entry;
}

// Closes fd, which a stream owns once made.
void end_listing(ListingState* listing, int fd) {
    if (listing->stream != nullptr) {
        closedir(listing->stream);
    } else {
        close(fd);
    }
}
#endif

}  // namespace

struct Directory {
    int fd;
    // The entry read_entry gave last, which a move of that entry notes as moved.
    const char* last_name;
    ino_t last_inode;
    MovedDirectories moved;
    ListingState listing;
};

namespace {

bool to_bytes(const char16_t* text, char (&bytes)[PATH_BYTES]) {
    std::size_t length = 0;
    return utf16_to_utf8(text, text_length(text), bytes, PATH_BYTES, &length);
}

// What an errno tells the walk, before each operation narrows it to its own outcomes. EXDEV is
// an entry on another file system; opening a directory below the root makes it a mount point.
Outcome outcome_of_errno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return Outcome::gone;
        case ELOOP:
            return Outcome::link;
        case EACCES:
        case EPERM:
            return Outcome::no_permission;
        case EROFS:
            return Outcome::read_only;
        case ENAMETOOLONG:
            return Outcome::path_too_long;
        case EMFILE:
        case ENFILE:
            return Outcome::too_many_open_files;
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
            return Outcome::failed;
    }
}

template <std::size_t N>
Outcome failure(const Outcome (&outcomes)[N]) {
    return narrow_outcome(outcome_of_errno(errno), outcomes);
}

// Takes over fd, an open directory, or -1 with errno set.
template <std::size_t N>
Outcome take_directory(int fd, const Outcome (&outcomes)[N], Directory** opened) {
    if (fd < 0) {
        return failure(outcomes);
    }
    // malloc, not new: the program needs nothing but the C library.
    auto* dir = static_cast<Directory*>(malloc(sizeof(Directory)));
    if (dir == nullptr) {
        close(fd);
        return Outcome::failed;
    }
    dir->fd = fd;
    dir->last_name = nullptr;
    dir->last_inode = 0;
    dir->moved = MovedDirectories{};
    start_listing(&dir->listing);
    *opened = dir;
    return Outcome::done;
}

Outcome open_by_path(const char16_t* path, int access, Directory** opened) {
    char bytes[PATH_BYTES];
    if (!to_bytes(path, bytes)) {
        return Outcome::path_too_long;
    }
    return take_directory(open(bytes[0] == '\0' ? "." : bytes, access | O_DIRECTORY | O_CLOEXEC),
                          OPEN_ROOT_OUTCOMES, opened);
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens the directory `name` of parent without following a link or entering a mount point, which
// fail with ELOOP and EXDEV. Without openat2, a directory on another device than its parent is
// taken for a mount point, which misses a bind mount of the same file system.
int open_within(int parent, const char* name) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;
#if KIRLATIN_USE_OPENAT2
    static bool without_openat2 = false;  // a kernel before 5.6
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

// Gives a listed record to the walk unless the listing rules pass it over.
bool take_entry(Directory* dir, const Record& record, DirEntry* entry) {
    std::size_t units = 0;
    const bool fits =
        utf8_to_utf16(record.name, strlen(record.name), entry->name, PATH_UNITS, &units);
    if (!is_walked_entry(dir->moved, record.inode, entry->name, fits, record.type != DT_REG)) {
        return false;
    }
    entry->kind = kind_of(dir->fd, record.name, record.type);
    dir->last_name = record.name;
    dir->last_inode = record.inode;
    return true;
}

int rename_excl(int dir, const char* old_name, const char* new_name) {
#if KIRLATIN_USE_RENAMEAT2
    return renameat2(dir, old_name, dir, new_name, RENAME_NOREPLACE);
#else
    return renameatx_np(dir, old_name, dir, new_name, RENAME_EXCL);
#endif
}

// The errors of a file system that cannot rename without replacing, or make a link.
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

// Moves a file by a hard link, which fails when new_name is taken, and removes the old name once
// both names are known to stand for the file. Otherwise the link is undone and the file keeps its
// one name. not_supported, with nothing changed, where no link can be made, or where it cannot be
// told from the file (a file system whose inode numbers differ per name).
Outcome move_by_link(int dir, const char* old_name, const char* new_name) {
    struct stat file;
    if (fstatat(dir, old_name, &file, AT_SYMLINK_NOFOLLOW) != 0) {
        return failure(MOVE_OUTCOMES);
    }
    // Flags 0: a symbolic link is linked itself, never its target.
    if (linkat(dir, old_name, dir, new_name, 0) != 0) {
        // EPERM: no hard links here, or not for this user.
        const bool refused = errno == EPERM || errno == EMLINK || refused_flag(errno);
        return refused ? Outcome::not_supported : failure(MOVE_OUTCOMES);
    }
    struct stat linked;
    if (fstatat(dir, new_name, &linked, AT_SYMLINK_NOFOLLOW) != 0) {
        return Outcome::failed;  // the link is gone already; the old name stands
    }
    if (same_file(linked, file)) {
        if (names_file(dir, old_name, file) && unlinkat(dir, old_name, 0) == 0) {
            return Outcome::done;
        }
        const Outcome kept = failure(MOVE_OUTCOMES);
        unlinkat(dir, new_name, 0);
        return kept;
    }
    // Whatever stands at new_name now and is not the file's twin is somebody else's.
    const bool twin = linked.st_mode == file.st_mode && linked.st_size == file.st_size &&
                      linked.st_mtime == file.st_mtime;
    if (!twin) {
        return Outcome::name_taken;
    }
    return unlinkat(dir, new_name, 0) == 0 ? Outcome::not_supported : Outcome::failed;
}

// Claims new_name with an empty entry of the tool's own, made exclusively (a directory for a
// directory, a file for anything else), and moves old_name onto it. A directory replaces only an
// empty directory, so anything put into the claim meanwhile makes the move fail; a file replaces
// its claim while that is still an empty file. A claim the move did not take is removed while it
// is still the tool's own and empty.
Outcome move_onto_claim(int dir, const char* old_name, const char* new_name, bool directory) {
    struct stat claim;
    if (directory) {
        if (mkdirat(dir, new_name, 0700) != 0) {
            return failure(MOVE_OUTCOMES);
        }
    } else {
        const int fd =
            openat(dir, new_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            return failure(MOVE_OUTCOMES);
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
    errno = error == ENOTDIR || error == EISDIR ? EEXIST : error;
    return failure(MOVE_OUTCOMES);
}

// Steps 2 and 3 of a move, where the file system refuses the rename that never replaces.
Outcome move_by_fallback(int dir, const char* old_name, const char* new_name, EntryKind kind) {
    const HeldSignals held;
    // 2. A file moves by a hard link, where the file system makes one that is told from the file.
    if (kind != EntryKind::directory) {
        const Outcome linked = move_by_link(dir, old_name, new_name);
        if (linked != Outcome::not_supported) {
            return linked;
        }
    }
    // 3. A directory, or a file that cannot be so linked, moves onto a claim of its new name.
    return move_onto_claim(dir, old_name, new_name, kind == EntryKind::directory);
}

}  // namespace

Outcome open_root_parent(const char16_t* path, Directory** opened) {
    return open_by_path(path, SEARCH_ONLY, opened);
}

Outcome open_root_path(const char16_t* path, Directory** opened) {
    return open_by_path(path, O_RDONLY, opened);
}

Outcome open_root(Directory* parent, const char16_t* name, Directory** opened) {
    char bytes[PATH_BYTES];
    if (!to_bytes(name, bytes)) {
        return Outcome::path_too_long;
    }
    return take_directory(openat(parent->fd, bytes, O_RDONLY | O_DIRECTORY | O_CLOEXEC),
                          OPEN_ROOT_OUTCOMES, opened);
}

Outcome open_directory(Directory* parent, const char16_t* name, Directory** opened) {
    char bytes[PATH_BYTES];
    if (!to_bytes(name, bytes)) {
        return Outcome::path_too_long;
    }
    const int fd = open_within(parent->fd, bytes);
    if (fd < 0 && errno == EXDEV) {
        return Outcome::mount_point;
    }
    return take_directory(fd, OPEN_OUTCOMES, opened);
}

Listing read_entry(Directory* dir, DirEntry* entry) {
    for (;;) {
        Record record;
        const Listing listed = next_record(&dir->listing, dir->fd, &record);
        if (listed != Listing::entry || take_entry(dir, record, entry)) {
            return listed;
        }
    }
}

void close_directory(Directory* dir) {
    end_listing(&dir->listing, dir->fd);
    forget_moved(&dir->moved);
    free(dir);
}

Outcome move_without_replacing(Directory* dir, const char16_t* old_name, const char16_t* new_name,
                               EntryKind kind) {
    char old_bytes[PATH_BYTES];
    char new_bytes[PATH_BYTES];
    if (!to_bytes(old_name, old_bytes) || !to_bytes(new_name, new_bytes)) {
        return Outcome::path_too_long;
    }
    // 1. The system's rename that never replaces. A file system that cannot says so, and the
    // fallback follows; never a plain rename().
    Outcome moved = Outcome::done;
    if (rename_excl(dir->fd, old_bytes, new_bytes) != 0) {
        moved = refused_flag(errno) ? move_by_fallback(dir->fd, old_bytes, new_bytes, kind)
                                    : failure(MOVE_OUTCOMES);
    }
    // A directory moved as the listing gave it may be met again under its new name.
    if (moved == Outcome::done && kind == EntryKind::directory && dir->last_name != nullptr &&
        strcmp(dir->last_name, old_bytes) == 0) {
        note_moved(&dir->moved, dir->last_inode, new_name);
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
