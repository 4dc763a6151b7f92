// The file-system services on Linux and macOS: byte-string names converted losslessly to UTF-16,
// directories opened relative to their parent's descriptor and never across a mount, listings
// that meet each entry once, and moves within one descriptor that never replace, with a fallback
// for file systems that cannot rename without replacing (FUSE, exFAT and FAT on macOS).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>  // renameat, and glibc's renameat2
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>  // flock
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

// What this system offers, decided here once. The build may set either of the first two to 0, so
// that Linux runs the way macOS lists directories and finds mount points.
//   KIRLATIN_USE_GETDENTS: a listing by the getdents64 system call into the directory's own
//     buffer, or readdir. glibc calls it getdents64 and its record dirent64; musl, whose records
//     are all 64-bit, getdents and dirent (KIRLATIN_LIBC_NAMES_PLAIN).
//   KIRLATIN_USE_OPENAT2: links and mount points refused by openat2's RESOLVE_ flags (Linux 5.6),
//     or by O_NOFOLLOW and a device number that differs from the parent's.
//   KIRLATIN_USE_RENAMEAT2: the rename that never replaces is the renameat2 system call with
//     RENAME_NOREPLACE (through glibc's wrapper; musl has none), or macOS's
//     renameatx_np(RENAME_EXCL).
//   KIRLATIN_USE_MKNODAT: a claim for a file is made by mknodat, unopened, or by an exclusive
//     open (macOS, whose mknod makes files for root alone).
#if defined(__linux__)
#if !defined(__GLIBC__)
#define KIRLATIN_LIBC_NAMES_PLAIN 1
#endif
#define KIRLATIN_USE_RENAMEAT2 1
#define KIRLATIN_USE_MKNODAT 1
#ifndef KIRLATIN_USE_GETDENTS
#define KIRLATIN_USE_GETDENTS 1
#endif
#ifndef KIRLATIN_USE_OPENAT2
#define KIRLATIN_USE_OPENAT2 1
#endif
#else
#define KIRLATIN_USE_RENAMEAT2 0
#define KIRLATIN_USE_MKNODAT 0
#define KIRLATIN_USE_GETDENTS 0
#define KIRLATIN_USE_OPENAT2 0
#endif

#if defined(__linux__)
#include <sys/syscall.h>
#endif
#if KIRLATIN_USE_OPENAT2
#include <linux/openat2.h>
#endif
#if KIRLATIN_LIBC_NAMES_PLAIN
#include <linux/fs.h>  // RENAME_NOREPLACE
#endif

#include "platform/listing.h"
#include "platform/platform.h"
#include "platform/utf8.h"

const char16_t COMPONENT_SEPARATORS[] = u"/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s/%s";
const char16_t DRIVE_SEPARATOR = u'\0';

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

#if KIRLATIN_LIBC_NAMES_PLAIN
using ListedRecord = dirent;
ssize_t list_into(int fd, char* records, std::size_t size) {
    return getdents(fd, reinterpret_cast<dirent*>(records), size);
}
#else
using ListedRecord = dirent64;
ssize_t list_into(int fd, char* records, std::size_t size) {
    return getdents64(fd, records, size);
}
#endif

struct ListingState {
    std::size_t next;    // where the next record of `records` starts
    std::size_t filled;  // bytes the last getdents64 call gave
    alignas(ListedRecord) char records[LISTING_BYTES];
};

void start_listing(ListingState* listing) {
    listing->next = listing->filled = 0;
}

// Straight into the directory's own records: no stream around the descriptor, so no fstat and
// no fcntl per directory.
Listing next_record(ListingState* listing, int fd, Record* record) {
    if (listing->next >= listing->filled) {
        const ssize_t got = list_into(fd, listing->records, LISTING_BYTES);
        if (got <= 0) {  // ENOENT: the directory was removed, moved onto, while listed
            return got == 0 || errno == ENOENT ? Listing::end : Listing::failed;
        }
        listing->next = 0;
        listing->filled = static_cast<std::size_t>(got);
    }
    const auto* found = reinterpret_cast<const ListedRecord*>(listing->records + listing->next);
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
        return errno == 0 || errno == ENOENT ? Listing::end : Listing::failed;
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

// Lists the directory `name` of dir anew, through a descriptor of its own, giving each record to
// `each` until it returns false: end, failed, or entry where `each` stopped.
template <class Each>
Listing list_anew(int dir, const char* name, Each each) {
    const int fd = openat(dir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Listing::failed;
    }
    ListingState listing;
    start_listing(&listing);
    Record record;
    Listing listed;
    while ((listed = next_record(&listing, fd, &record)) == Listing::entry && each(record)) {
    }
    end_listing(&listing, fd);
    return listed;
}

// How a file system moves an entry of one kind without replacing, as its probe showed.
enum class Step : unsigned char {
    none,        // no way it showed: the entry is not supported
    plain,       // a rename onto an existing entry of that kind fails: the plain rename
    onto_claim,  // a rename onto an empty entry of that kind keeps all of what is moved
};

// What a file system has shown of itself, learned once per run: its no-replace rename at the
// first move, the steps of the fallback by a probe where that is refused.
struct FileSystem {
    dev_t device;
    bool renames_excl;  // the rename that never replaces has not been refused
    bool probed;
    Outcome refusal;  // done, or what every fallback move here returns (read_only)
    Step directories;
    Step files;
    bool mknod_claims;  // mknod makes a regular file
    bool links_proven;  // a hard link shows its file's inode number, as the listing does
};

// The file systems of one run: a handful. One beyond them is probed for each move.
FileSystem file_systems[16];
std::size_t file_system_count = 0;

FileSystem* file_system_of(int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return nullptr;
    }
    for (std::size_t i = 0; i < file_system_count; ++i) {
        if (file_systems[i].device == status.st_dev) {
            return &file_systems[i];
        }
    }
    if (file_system_count == sizeof file_systems / sizeof file_systems[0]) {
        return nullptr;
    }
    FileSystem* added = &file_systems[file_system_count++];
    *added = {};
    added->device = status.st_dev;
    added->renames_excl = true;
    return added;
}

// How a directory holds its note of moves onto claims.
enum class NoteHeld : unsigned char { not_held, made, left_by_a_run };

}  // namespace

struct Directory {
    int fd;
    FileSystem* fs;  // the root's, for every directory below it; nullptr where not yet known
    Directory* top;  // the root, for every directory below it, which outlives them; else itself
    // The entry read_entry gave last, which a move of that entry notes as moved.
    const char* last_name;
    ino_t last_inode;
    NoteHeld note;      // this run's note of its moves onto claims, held here
    bool marks_listed;  // a stamped mark was passed over: removed once the listing is over,
    bool notes_kept;    // unless a move kept its note for what it could not undo
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
    dir->fs = nullptr;
    dir->last_name = nullptr;
    dir->last_inode = 0;
    dir->top = dir;
    dir->marks_listed = dir->notes_kept = false;
    dir->note = NoteHeld::not_held;
    dir->moved = MovedDirectories{};
    start_listing(&dir->listing);
    *opened = dir;
    return Outcome::done;
}

// Takes over fd, the root or its parent, or -1 with errno set; every directory opened below the
// root shares the root's file system, as none is entered across a mount.
Outcome take_root(int fd, Directory** opened) {
    const Outcome taken = take_directory(fd, OPEN_ROOT_OUTCOMES, opened);
    if (taken == Outcome::done) {
        (*opened)->fs = file_system_of(fd);
    }
    return taken;
}

Outcome open_by_path(const char16_t* path, int access, Directory** opened) {
    char bytes[PATH_BYTES];
    if (!to_bytes(path, bytes)) {
        return Outcome::path_too_long;
    }
    return take_root(open(bytes[0] == '\0' ? "." : bytes, access | O_DIRECTORY | O_CLOEXEC),
                     opened);
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

// What the tool makes of its own on a file system that refuses the rename that never replaces,
// each an empty directory named ".kirlatin-…", stamped at once with a modification time no one
// sets by chance (2000-01-02 03:04:06 UTC), so that no user's entry is ever taken for one:
//   ".kirlatin-moves", the note of a directory in which moves onto claims are under way: it stands
//     from before the first claim until the directory's listing is over, so an empty claim a run
//     that was killed left, or the file under both names, is known by it;
//   ".kirlatin-probe", the scratch directory in which a file system is probed, within its own
//     directory "w", so that the probe's changes leave the stamp as it was.
// One found not yet stamped is one whose run was killed before it could stamp it, or make
// anything more: made anew where it is an empty directory. Their names are Latin: the walk never
// renames one.
constexpr char MARK_PREFIX[] = ".kirlatin-";
constexpr char MOVES_NOTE[] = ".kirlatin-moves";
constexpr char PROBE_SCRATCH[] = ".kirlatin-probe";
constexpr char PROBE_WORK[] = ".kirlatin-probe/w";  // what the probe changes: the stamp stays
constexpr time_t MARK_STAMP = 946782246;

bool is_stamped_mark(int dir, const char* name) {
    struct stat status;
    return strncmp(name, MARK_PREFIX, sizeof MARK_PREFIX - 1) == 0 &&
           fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode) &&
           status.st_mtime == MARK_STAMP;
}

// Makes the mark `name` and stamps it, or finds the one a run left. False, with nothing made and
// errno set, where its name holds anything else (EEXIST), or the file system keeps no such stamp
// (ENOTSUP).
// `inner`, an empty directory within it, is made before the stamp, which making it would change.
bool take_mark(int dir, const char* name, const char* inner, bool* left_by_a_run) {
    *left_by_a_run = false;
    bool fresh = mkdirat(dir, name, 0700) == 0;
    if (!fresh && errno == EEXIST) {
        if (is_stamped_mark(dir, name)) {
            *left_by_a_run = true;
            return true;
        }
        if (inner != nullptr) {
            unlinkat(dir, inner, AT_REMOVEDIR);
        }
        fresh = unlinkat(dir, name, AT_REMOVEDIR) == 0 && mkdirat(dir, name, 0700) == 0;
        errno = fresh ? 0 : EEXIST;
    }
    if (fresh && inner != nullptr && mkdirat(dir, inner, 0700) != 0) {
        unlinkat(dir, name, AT_REMOVEDIR);
        return false;
    }
    if (!fresh) {
        return false;
    }
    const timespec times[2] = {{MARK_STAMP, 0}, {MARK_STAMP, 0}};  // exfat-fuse takes no UTIME_OMIT
    if (utimensat(dir, name, times, AT_SYMLINK_NOFOLLOW) != 0) {
        unlinkat(dir, name, AT_REMOVEDIR);
        errno = ENOTSUP;
        return false;
    }
    return true;
}

// Holds the directory's advisory lock, which every run of the tool takes for the steps of a
// fallback move and for tidying its marks: another run on this machine then meets a move not
// begun, finished, or left by a run that is gone, never one in progress. A descriptor opened only
// to search gives no lock; the directory is then opened once more to read.
struct DirectoryLock {
    int fd;
    bool own_fd = false;
    bool held = false;
    explicit DirectoryLock(int dir) : fd(dir) {
        if (flock(fd, LOCK_EX) == 0) {
            held = true;
        } else if (errno == EBADF) {
            fd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            own_fd = fd >= 0;
            held = own_fd && flock(fd, LOCK_EX) == 0;
        }
    }
    ~DirectoryLock() {
        if (own_fd) {
            close(fd);  // and with it the lock
        } else if (held) {
            flock(fd, LOCK_UN);
        }
    }
};

// The entries a probe may leave in its scratch directory, removed files first.
constexpr const char* SCRATCH_FILES[] = {"a/x", "b/x", "c/x", "f", "g", "l"};
constexpr const char* SCRATCH_DIRECTORIES[] = {"a", "b", "c"};

void remove_scratch(int dir) {
    const int fd = openat(dir, PROBE_WORK, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        for (const char* name : SCRATCH_FILES) {
            unlinkat(fd, name, 0);
        }
        for (const char* name : SCRATCH_DIRECTORIES) {
            unlinkat(fd, name, AT_REMOVEDIR);
        }
        close(fd);
    }
    unlinkat(dir, PROBE_WORK, AT_REMOVEDIR);
    unlinkat(dir, PROBE_SCRATCH, AT_REMOVEDIR);
}

// Removes every stamped mark of dir, under its lock, once its listing is over: each entry it
// listed has been moved by then, which finished or took back what a killed run's note stood for.
// The directory is listed anew: a FUSE file system may list nothing more once a listing has ended.
void remove_marks(int dir) {
    const DirectoryLock lock(dir);
    if (!lock.held) {
        return;
    }
    list_anew(dir, ".", [dir](const Record& record) {
        if (strcmp(record.name, PROBE_SCRATCH) == 0 && is_stamped_mark(dir, record.name)) {
            remove_scratch(dir);
        } else if (is_stamped_mark(dir, record.name)) {
            unlinkat(dir, record.name, AT_REMOVEDIR);  // fails where it holds anything
        }
        return true;
    });
}

// Ends what the directory's moves noted, once its listing is over, or it is closed (the root's
// parent, never listed; a walk stopped): the note it holds goes, and any mark the listing met,
// unless a move kept them for what it could not undo.
void end_moves(Directory* dir) {
    if (!dir->notes_kept && dir->marks_listed) {
        remove_marks(dir->fd);
    } else if (!dir->notes_kept && dir->note != NoteHeld::not_held) {
        const DirectoryLock lock(dir->fd);
        unlinkat(dir->fd, MOVES_NOTE, AT_REMOVEDIR);
    }
    dir->marks_listed = false;
    dir->note = NoteHeld::not_held;
}

// Gives a listed record to the walk unless the listing rules pass it over, or it is a mark:
// the directory's own note, or one a run left, removed once the listing is over.
bool take_entry(Directory* dir, const Record& record, DirEntry* entry) {
    if (record.type != DT_REG && strncmp(record.name, MARK_PREFIX, sizeof MARK_PREFIX - 1) == 0) {
        if (dir->note != NoteHeld::not_held && strcmp(record.name, MOVES_NOTE) == 0) {
            return false;
        }
        if (is_stamped_mark(dir->fd, record.name)) {
            dir->marks_listed = true;
            return false;
        }
    }
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
#if KIRLATIN_LIBC_NAMES_PLAIN
    return static_cast<int>(
        syscall(SYS_renameat2, dir, old_name, dir, new_name, unsigned{RENAME_NOREPLACE}));
#else
    return renameat2(dir, old_name, dir, new_name, RENAME_NOREPLACE);
#endif
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

// Makes the empty file `name` exclusively. Unopened where the file system makes files so: FUSE
// releases a file closed just before the rename onto it late, and libfuse would keep what that
// rename replaced as a hidden file.
bool make_claim_file(int dir, const char* name, bool by_mknod) {
#if KIRLATIN_USE_MKNODAT
    if (by_mknod && mknodat(dir, name, S_IFREG | 0600, 0) == 0) {
        return true;  // where it fails, so does the open below, or the open makes the file
    }
#else
    (void)by_mknod;
#endif
    const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd >= 0 && close(fd) == 0;
}

// True when `name` in the scratch directory lists `entry` (a directory) or holds the byte "k"
// (a file), as the file system itself tells, opened anew: the kernel's cache of what a rename
// moved can show what the file system has lost.
bool holds(int scratch, const char* name, const char* entry) {
    if (entry != nullptr) {
        return list_anew(scratch, name, [entry](const Record& record) {
                   return strcmp(record.name, entry) != 0;
               }) == Listing::entry;
    }
    const int fd = openat(scratch, name, O_RDONLY | O_CLOEXEC);
    char byte = 0;
    const bool held = fd >= 0 && read(fd, &byte, 1) == 1 && byte == 'k';
    if (fd >= 0) {
        close(fd);
    }
    return held;
}

// What the probe finds of renaming `from` onto `onto`, an empty entry of its kind: where the rename
// is done, whether `onto` holds what `from` held; where it fails as taken, whether a rename to a
// `free` name (none for a file) keeps what it holds.
Step probed_step(int scratch, const char* from, const char* onto, const char* entry,
                 const char* free) {
    if (renameat(scratch, from, scratch, onto) == 0) {
        return holds(scratch, onto, entry) ? Step::onto_claim : Step::none;
    }
    if (errno != EEXIST && errno != ENOTEMPTY) {
        return Step::none;
    }
    return free == nullptr ||
                   (renameat(scratch, from, scratch, free) == 0 && holds(scratch, free, entry))
               ? Step::plain
               : Step::none;
}

// True when a file linked in the scratch directory shows one inode number under both names, and
// the listing gives the same: then two names can be proven to be one file.
bool links_proven(int scratch, const char* file) {
    struct stat one;
    struct stat two;
    return linkat(scratch, file, scratch, "l", 0) == 0 &&
           fstatat(scratch, file, &one, AT_SYMLINK_NOFOLLOW) == 0 &&
           fstatat(scratch, "l", &two, AT_SYMLINK_NOFOLLOW) == 0 && same_file(one, two) &&
           list_anew(scratch, ".", [file, &one](const Record& record) {
               return strcmp(record.name, file) != 0 || record.inode != one.st_ino;
           }) == Listing::entry;
}

// Finds out, in a scratch directory of its own beside the entries, what the file system does with
// each step of a fallback move: whether a directory renamed onto an empty directory keeps its
// entries, or the rename fails (then the plain rename never replaces a directory); whether a file
// renamed onto an empty file keeps its bytes, or fails; whether mknod makes a file; whether hard
// links can be proven. Returns done once it knows, or the reason it cannot probe here: where the
// file system makes nothing at all, read_only (or not_supported) holds for every move on it.
Outcome probe(int dir, FileSystem* fs) {
    if (is_stamped_mark(dir, PROBE_SCRATCH)) {
        remove_scratch(dir);  // a killed run's
    }
    bool left = false;
    if (!take_mark(dir, PROBE_SCRATCH, PROBE_WORK, &left) || left) {
        const int error = left ? EEXIST : errno;
        if (error == EROFS || error == ENOSYS) {
            // A read-only FUSE file system may refuse a directory with ENOSYS, and a file as such.
            fs->probed = true;
            fs->refusal =
                error == EROFS || (!make_claim_file(dir, PROBE_SCRATCH, true) && errno == EROFS)
                    ? Outcome::read_only
                    : Outcome::not_supported;
            unlinkat(dir, PROBE_SCRATCH, 0);
            return fs->refusal;
        }
        errno = error;
        return error == ENOTSUP ? Outcome::not_supported : failure(MOVE_OUTCOMES);
    }
    const int scratch = openat(dir, PROBE_WORK, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (scratch < 0) {
        const Outcome unknown = failure(MOVE_OUTCOMES);
        remove_scratch(dir);
        return unknown;
    }
    fs->directories = mkdirat(scratch, "a", 0700) == 0 && make_claim_file(scratch, "a/x", false) &&
                              mkdirat(scratch, "b", 0700) == 0
                          ? probed_step(scratch, "a", "b", "x", "c")
                          : Step::none;
#if KIRLATIN_USE_MKNODAT
    fs->mknod_claims = mknodat(scratch, "g", S_IFREG | 0600, 0) == 0;
#endif
    const int file = fs->mknod_claims || make_claim_file(scratch, "g", false)
                         ? openat(scratch, "f", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)
                         : -1;
    const bool written = file >= 0 && write(file, "k", 1) == 1;
    fs->files = file >= 0 && close(file) == 0 && written
                    ? probed_step(scratch, "f", "g", nullptr, nullptr)
                    : Step::none;
    fs->links_proven = links_proven(scratch, fs->files == Step::plain ? "f" : "g");
    fs->probed = true;
    close(scratch);
    remove_scratch(dir);
    return Outcome::done;
}

// Holds back every signal that can be held for the few calls of a fallback move, so that no stop
// and no grace timer ends the process between its steps, with an entry under two names or a
// claim left behind. Only SIGKILL can come between them; what it leaves, the next run finishes.
struct HeldSignals {
    sigset_t before;
    HeldSignals() {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &before);
    }
    ~HeldSignals() { sigprocmask(SIG_SETMASK, &before, nullptr); }
};

// Takes the note of the run's moves onto claims before its first claim: in the directory the walk
// began at, once for the whole walk, or where that is refused (a root the user cannot write to),
// in dir itself. False, with errno set, where neither can be had.
bool hold_note(Directory* dir) {
    if (dir->top->note != NoteHeld::not_held || dir->note != NoteHeld::not_held) {
        return true;
    }
    Directory* const holders[] = {dir->top, dir};
    for (Directory* holder : holders) {
        bool left = false;
        if (take_mark(holder->fd, MOVES_NOTE, nullptr, &left)) {
            holder->note = left ? NoteHeld::left_by_a_run : NoteHeld::made;
            return true;
        }
        if (errno != EACCES && errno != EPERM) {
            return false;
        }
    }
    return false;
}

// True where what stands at a new name in dir may be what a killed run left: a stamped note
// stood, before this run, in dir or in the directory the walk began at.
bool leftovers_proven(const Directory* dir) {
    return dir->top->note == NoteHeld::left_by_a_run || dir->note == NoteHeld::left_by_a_run ||
           (dir->note == NoteHeld::not_held && dir != dir->top &&
            is_stamped_mark(dir->fd, MOVES_NOTE));
}

// Step 2: moves the file by a hard link, which fails when new_name is taken, then removes the old
// name; a second name a killed run left, proven the file's, is taken as the link. The file must
// be the one the listing gave for old_name, by the inode number that proves a link to be it.
// Where the old name cannot be removed and still names the file, the link is undone.
// not_supported, with nothing changed, where the file cannot be so moved, or new_name holds what
// may be a claim of the note's.
Outcome move_by_link(const Directory* dir, const char* old_name, const char* new_name,
                     Leftover* left) {
    struct stat file;
    if (dir->last_name == nullptr || strcmp(dir->last_name, old_name) != 0 ||
        fstatat(dir->fd, old_name, &file, AT_SYMLINK_NOFOLLOW) != 0 ||
        file.st_ino != dir->last_inode || S_ISDIR(file.st_mode)) {
        return Outcome::not_supported;
    }
    // Flags 0: a symbolic link is linked itself, never its target.
    if (linkat(dir->fd, old_name, dir->fd, new_name, 0) != 0) {
        // EPERM: no hard links here, or not for this user.
        if (errno == EPERM || errno == EMLINK || refused_flag(errno)) {
            return Outcome::not_supported;
        }
        const int error = errno;
        if (error != EEXIST || !leftovers_proven(dir)) {
            errno = error;
            return failure(MOVE_OUTCOMES);
        }
        if (!names_file(dir->fd, new_name, file)) {
            return Outcome::not_supported;  // what stands there may be the killed run's claim
        }
    } else if (!names_file(dir->fd, new_name, file)) {
        return Outcome::name_taken;  // the link was replaced at once: new_name is another's now
    }
    if (unlinkat(dir->fd, old_name, 0) == 0 || !names_file(dir->fd, old_name, file)) {
        return Outcome::done;  // old_name no longer names the file: it stands at new_name
    }
    const Outcome kept = failure(MOVE_OUTCOMES);
    if (!names_file(dir->fd, new_name, file) || unlinkat(dir->fd, new_name, 0) != 0) {
        *left = Leftover::second_name;
    }
    return kept;
}

// True when name is an empty entry of the kind a claim for a directory or a file would be.
bool is_empty_claim(int dir, const char* name, bool directory, struct stat* claim) {
    return fstatat(dir, name, claim, AT_SYMLINK_NOFOLLOW) == 0 &&
           (directory ? S_ISDIR(claim->st_mode) : S_ISREG(claim->st_mode) && claim->st_size == 0);
}

// Step 3: claims new_name with an empty entry of the tool's own, made exclusively (a directory for
// a directory, a file for anything else), or takes the claim a killed run left beside its note,
// and moves old_name onto it: where the probe showed that such a rename keeps all of the entry.
// A directory replaces only an empty directory, so anything put into the claim meanwhile makes
// the move fail. A claim the move did not take is removed while it is still empty. *other_kind:
// the entry is not of the kind it was taken for (a root that is a link, or one swapped since
// its listing), and its claim is gone again.
Outcome move_onto_claim(const Directory* dir, const char* old_name, const char* new_name,
                        bool directory, Leftover* left, bool* other_kind) {
    const int fd = dir->fd;
    struct stat claim;
    const bool claimed = directory ? mkdirat(fd, new_name, 0700) == 0
                                   : make_claim_file(fd, new_name, dir->fs->mknod_claims);
    if (!claimed) {
        // Where another run has just moved the entry, it is gone, not taken.
        const int error = errno;
        struct stat entry;
        if (fstatat(fd, old_name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            return failure(MOVE_OUTCOMES);
        }
        if (!(error == EEXIST && leftovers_proven(dir) &&
              is_empty_claim(fd, new_name, directory, &claim))) {
            errno = error;
            return failure(MOVE_OUTCOMES);
        }
    }
    if (renameat(fd, old_name, fd, new_name) == 0) {
        return Outcome::done;
    }
    const int error = errno;
    if (!claimed) {  // a claim taken over stays: it may be what another run has just moved there
        errno = error;
        return failure(MOVE_OUTCOMES);
    }
    const bool removed =
        directory ? unlinkat(fd, new_name, AT_REMOVEDIR) == 0
                  : !is_empty_claim(fd, new_name, false, &claim) || unlinkat(fd, new_name, 0) == 0;
    // A directory claim that cannot be removed because it holds something is somebody else's.
    if (!removed && errno != ENOENT && errno != ENOTEMPTY && errno != EEXIST) {
        *left = Leftover::claim;
    }
    *other_kind = removed && (error == ENOTDIR || error == EISDIR);
    errno = error == ENOTDIR || error == EISDIR ? EEXIST : error;
    return failure(MOVE_OUTCOMES);
}

// Steps 2 and 3 of a move, where the file system refuses the rename that never replaces: under
// the directory's lock, with signals held, each by the step the file system was probed to take.
// A move onto a claim holds the directory's note from before its claim; the note goes once the
// directory's listing is over, or stays where something of a move is left at new_name, so that
// a later run knows it.
Outcome fallback_steps(Directory* dir, const char* old_name, const char* new_name, bool directory,
                       Leftover* left) {
    const DirectoryLock lock(dir->fd);
    if (!lock.held) {
        return failure(MOVE_OUTCOMES);
    }
    const HeldSignals held;
    FileSystem unknown{};  // beyond the file systems remembered: probed for this move alone
    if (dir->fs == nullptr) {
        dir->fs = &unknown;
    }
    const Outcome probed = dir->fs->probed ? dir->fs->refusal : probe(dir->fd, dir->fs);
    Outcome moved = probed;
    for (int kinds = 0; probed == Outcome::done && kinds < 2; ++kinds, directory = !directory) {
        const Step step = directory ? dir->fs->directories : dir->fs->files;
        struct stat entry;
        bool other_kind = false;
        if (step == Step::none) {
            moved = Outcome::not_supported;
        } else if (step == Step::plain) {
            // Where a rename onto an existing entry of its kind fails, the plain rename never
            // replaces it, for an entry of that kind alone.
            if (fstatat(dir->fd, old_name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
                moved = failure(MOVE_OUTCOMES);
            } else if (S_ISDIR(entry.st_mode) != directory) {
                other_kind = true;
            } else {
                moved = renameat(dir->fd, old_name, dir->fd, new_name) == 0
                            ? Outcome::done
                            : failure(MOVE_OUTCOMES);
            }
        } else if (!hold_note(dir)) {
            moved = errno == ENOTSUP ? Outcome::not_supported : failure(MOVE_OUTCOMES);
        } else {
            // 2. A file moves by a hard link, where links are proven on this file system.
            moved = !directory && dir->fs->links_proven
                        ? move_by_link(dir, old_name, new_name, left)
                        : Outcome::not_supported;
            // 3. A directory, or a file that cannot be so linked, moves onto a claim.
            if (moved == Outcome::not_supported) {
                moved = move_onto_claim(dir, old_name, new_name, directory, left, &other_kind);
            }
        }
        if (!other_kind) {
            break;
        }
    }
    if (dir->fs == &unknown) {
        dir->fs = nullptr;
    }
    return moved;
}

// The notes stay where something of a move is left at new_name, so that a later run knows it.
Outcome move_by_fallback(Directory* dir, const char* old_name, const char* new_name, bool directory,
                         Leftover* left) {
    const Outcome moved = fallback_steps(dir, old_name, new_name, directory, left);
    if (*left != Leftover::none) {
        dir->notes_kept = dir->top->notes_kept = true;
    }
    return moved;
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
    return take_root(openat(parent->fd, bytes, O_RDONLY | O_DIRECTORY | O_CLOEXEC), opened);
}

// A volume that ignores letter case (exFAT, APFS and HFS+ by default) or, on macOS, the form of
// an accented letter opens the root by a name its parent does not list. The parent's listing
// then tells the name stored: the one entry that is the same file; or, where the system numbers
// a file by the name it was reached by (FUSE) and no entry is the same file, the one entry of the
// root's kind that is the typed name in other letter case, which such a volume holds only once.
bool stored_root_name(Directory* parent, const char16_t* typed, PathBuffer& stored) {
    char bytes[PATH_BYTES];
    struct stat root;
    if (!to_bytes(typed, bytes) || fstatat(parent->fd, bytes, &root, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    PathBuffer name;
    PathBuffer same_file_name;
    PathBuffer other_case_name;
    int same_files = 0;
    int other_cases = 0;
    const Listing listed = list_anew(parent->fd, ".", [&](const Record& record) {
        std::size_t units = 0;
        struct stat status;
        if (strcmp(record.name, bytes) == 0) {
            return false;  // listed as typed
        }
        if (!utf8_to_utf16(record.name, strlen(record.name), name, PATH_UNITS, &units)) {
            return true;
        }
        const bool other_case = same_but_letter_case(name, typed);
        if ((record.inode == root.st_ino || other_case) &&
            fstatat(parent->fd, record.name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            // Each name fit a path buffer just now.
            if (same_file(status, root)) {
                format_text(same_file_name, u"%s", name);
                ++same_files;
            } else if (other_case && (status.st_mode & S_IFMT) == (root.st_mode & S_IFMT)) {
                format_text(other_case_name, u"%s", name);
                ++other_cases;
            }
        }
        return true;
    });
    if (listed != Listing::end) {  // listed as typed, or the listing broke off
        return false;
    }
    return (same_files == 1 && format_text(stored, u"%s", same_file_name)) ||
           (same_files == 0 && other_cases == 1 && format_text(stored, u"%s", other_case_name));
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
    const Outcome taken = take_directory(fd, OPEN_OUTCOMES, opened);
    if (taken == Outcome::done) {
        (*opened)->fs = parent->fs;
        (*opened)->top = parent->top;
    }
    return taken;
}

Listing read_entry(Directory* dir, DirEntry* entry) {
    for (;;) {
        Record record;
        const Listing listed = next_record(&dir->listing, dir->fd, &record);
        if (listed == Listing::end) {
            end_moves(dir);
        }
        if (listed != Listing::entry || take_entry(dir, record, entry)) {
            return listed;
        }
    }
}

void close_directory(Directory* dir) {
    end_moves(dir);  // a walk stopped between entries
    end_listing(&dir->listing, dir->fd);
    forget_moved(&dir->moved);
    free(dir);
}

// True where another run, which holds the directory's lock for the steps of a move onto its
// claim, has moved old_name meanwhile: once it lets go, old_name is gone.
bool moved_by_another_run(int dir, const char* old_name) {
    const DirectoryLock lock(dir);
    struct stat entry;
    return lock.held && fstatat(dir, old_name, &entry, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

Outcome move_without_replacing(Directory* dir, const char16_t* old_name, const char16_t* new_name,
                               EntryKind kind, Leftover* left) {
    *left = Leftover::none;
    char old_bytes[PATH_BYTES];
    char new_bytes[PATH_BYTES];
    if (!to_bytes(old_name, old_bytes) || !to_bytes(new_name, new_bytes)) {
        return Outcome::path_too_long;
    }
    // 1. The system's rename that never replaces. A file system that cannot says so, and the
    // fallback follows, without asking again; never a plain rename() unless a probe showed it
    // never replaces. The kernel finds new_name taken before a file system can refuse the flag,
    // so there a stamped note tells what a killed run left.
    const bool directory = kind == EntryKind::directory;
    Outcome moved = Outcome::done;
    if (dir->fs != nullptr && !dir->fs->renames_excl) {
        moved = move_by_fallback(dir, old_bytes, new_bytes, directory, left);
    } else if (rename_excl(dir->fd, old_bytes, new_bytes) != 0) {
        const int error = errno;
        if (refused_flag(error) && dir->fs != nullptr) {
            dir->fs->renames_excl = false;
        }
        if (error == EEXIST ? is_stamped_mark(dir->fd, MOVES_NOTE) ||
                                  (dir != dir->top && is_stamped_mark(dir->top->fd, MOVES_NOTE))
                            : refused_flag(error)) {
            moved = move_by_fallback(dir, old_bytes, new_bytes, directory, left);
        } else if (error == EEXIST && moved_by_another_run(dir->fd, old_bytes)) {
            moved = Outcome::gone;
        } else {
            errno = error;
            moved = failure(MOVE_OUTCOMES);
        }
    }
    // A directory moved as the listing gave it may be met again under its new name.
    if (moved == Outcome::done && kind == EntryKind::directory && dir->last_name != nullptr &&
        strcmp(dir->last_name, old_bytes) == 0) {
        note_moved(&dir->moved, dir->last_inode, new_name);
    }
    return moved;
}

void clear_move_note(Directory* dir) {
    if (is_stamped_mark(dir->fd, MOVES_NOTE)) {
        const DirectoryLock lock(dir->fd);
        if (lock.held && is_stamped_mark(dir->fd, MOVES_NOTE)) {
            unlinkat(dir->fd, MOVES_NOTE, AT_REMOVEDIR);
        }
    }
}

bool is_text_name(const char16_t* name) {
    return !holds_escaped_bytes(name);
}

bool is_directory(const char16_t* path) {
    char bytes[PATH_BYTES];
    struct stat status;
    return to_bytes(path, bytes) && stat(bytes, &status) == 0 && S_ISDIR(status.st_mode);
}
