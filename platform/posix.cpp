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
#include <sys/file.h>  // flock
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

// What this system offers, decided here once. The build may set either of the first two to 0, so
// that Linux runs the way macOS lists directories and finds mount points.
//   KIRLATIN_USE_GETDENTS: a listing by getdents64 into the directory's own buffer, or readdir.
//   KIRLATIN_USE_OPENAT2: links and mount points refused by openat2's RESOLVE_ flags (Linux 5.6),
//     or by O_NOFOLLOW and a device number that differs from the parent's.
//   KIRLATIN_USE_RENAMEAT2: the rename that never replaces is renameat2(RENAME_NOREPLACE), or
//     macOS's renameatx_np(RENAME_EXCL).
//   KIRLATIN_USE_MKNODAT: a claim for a file is made by mknodat, unopened, or by an exclusive
//     open (macOS, whose mknod makes files for root alone).
#if defined(__linux__)
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

#if KIRLATIN_USE_OPENAT2
#include <linux/openat2.h>
#include <sys/syscall.h>
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
        if (got <= 0) {  // ENOENT: the directory was removed, moved onto, while listed
            return got == 0 || errno == ENOENT ? Listing::end : Listing::failed;
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

}  // namespace

struct Directory {
    int fd;
    // The entry read_entry gave last, which a move of that entry notes as moved.
    const char* last_name;
    ino_t last_inode;
    bool notes_listed;  // a stamped note was passed over: removed once the listing is over,
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
    dir->last_name = nullptr;
    dir->last_inode = 0;
    dir->notes_listed = dir->notes_kept = false;
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

// What marks a move of the tool's own, on a file system that refuses the rename that never
// replaces: a note, an empty directory ".kirlatin-move-HASH" beside the entry, HASH being 16 hex
// digits of the new name's FNV-1a hash, made before anything else and stamped at once with a
// modification time no one sets by chance (2000-01-02 03:04:06 UTC). The note stands until the
// move is over, so what a run that was killed left (an empty claim, the file under both names) is
// known by it. A directory of that exact name that is not yet stamped is a note its run was
// killed before stamping: nothing else had been made, and the next move takes it over. A note's
// name is Latin and of one length: the walk never renames one, and every name has one.
constexpr char NOTE_PREFIX[] = ".kirlatin-move-";
constexpr std::size_t NOTE_PREFIX_BYTES = sizeof NOTE_PREFIX - 1;
constexpr time_t NOTE_STAMP = 946782246;

bool is_stamped_note(int dir, const char* name) {
    struct stat status;
    return strncmp(name, NOTE_PREFIX, NOTE_PREFIX_BYTES) == 0 &&
           fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode) &&
           status.st_mtime == NOTE_STAMP;
}

// The note of a move to new_name, and how the move holds it.
struct Note {
    char name[NOTE_PREFIX_BYTES + 17];
    enum Held { not_held, made, left_by_a_run } held = not_held;

    explicit Note(const char* new_name) {
        std::uint64_t hash = 0xcbf29ce484222325;
        for (const char* c = new_name; *c != '\0'; ++c) {
            hash = (hash ^ static_cast<unsigned char>(*c)) * 0x100000001b3;
        }
        snprintf(name, sizeof name, "%s%016llx", NOTE_PREFIX,
                 static_cast<unsigned long long>(hash));
    }
    // Makes the note and stamps it, or takes over the one a killed run left. False, with nothing
    // made and errno set, where its name holds anything else (EEXIST), or the file system keeps
    // no such stamp (ENOTSUP).
    bool take(int dir) {
        bool fresh = mkdirat(dir, name, 0700) == 0;
        if (!fresh && errno == EEXIST) {
            if (is_stamped_note(dir, name)) {
                held = left_by_a_run;
                return true;
            }
            // One not stamped is a note whose run was killed before it could stamp it, or make
            // anything more: made anew where it is an empty directory.
            fresh = unlinkat(dir, name, AT_REMOVEDIR) == 0 && mkdirat(dir, name, 0700) == 0;
            errno = fresh ? 0 : EEXIST;
        }
        if (!fresh) {
            return false;
        }
        if (!stamp(dir)) {
            unlinkat(dir, name, AT_REMOVEDIR);
            errno = ENOTSUP;
            return false;
        }
        held = made;
        return true;
    }
    bool stamp(int dir) const {
        const timespec times[2] = {{NOTE_STAMP, 0},
                                   {NOTE_STAMP, 0}};  // exfat-fuse takes no UTIME_OMIT
        return utimensat(dir, name, times, AT_SYMLINK_NOFOLLOW) == 0;
    }
    void remove(int dir) const { unlinkat(dir, name, AT_REMOVEDIR); }
};

// Holds the directory's advisory lock, which every run of the tool takes for the steps of a
// fallback move and for tidying notes: another run on this machine then meets a move not begun,
// finished, or left by a run that is gone, never one in progress. A descriptor opened only to
// search gives no lock; the directory is then opened once more to read.
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

// Removes every stamped note of dir, under its lock, once its listing is over: each entry it
// listed has been moved by then, which finished or took back what a killed run's note stood for,
// so any note left is a move's that is over; none where a move of its own kept its note. The
// directory is listed anew: a FUSE file system may list nothing more once a listing has ended.
void remove_notes(int dir) {
    const DirectoryLock lock(dir);
    const int fd = lock.held ? openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (fd < 0) {
        return;
    }
    ListingState listing;
    start_listing(&listing);
    Record record;
    while (next_record(&listing, fd, &record) == Listing::entry) {
        if (is_stamped_note(dir, record.name)) {
            unlinkat(dir, record.name, AT_REMOVEDIR);  // fails where it holds anything
        }
    }
    end_listing(&listing, fd);
}

// Gives a listed record to the walk unless the listing rules pass it over, or it is a note, which
// is removed once the listing is over.
bool take_entry(Directory* dir, const Record& record, DirEntry* entry) {
    if (record.type != DT_REG && is_stamped_note(dir->fd, record.name)) {
        dir->notes_listed = true;
        return false;
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

// True when the entry `file`, standing at old_name, is a file whose inode number is known to
// identify it: the one the listing gave for that name, so not a number made up per name (sshfs
// and other FUSE file systems). Only then can two names be proven to be one file.
bool is_identified_file(const Directory* dir, const char* old_name, const struct stat& file) {
    return !S_ISDIR(file.st_mode) && dir->last_name != nullptr &&
           strcmp(dir->last_name, old_name) == 0 && file.st_ino == dir->last_inode;
}

// Step 2: moves the file by a hard link, which fails when new_name is taken, then removes the old
// name; a second name a killed run left, proven the file's, is taken as the link. Where the old
// name cannot be removed and still names the file, the link is undone. not_supported, with
// nothing changed, where no link can be made, or new_name holds what may be a claim of the note's.
Outcome move_by_link(int dir, const char* old_name, const char* new_name, const struct stat& file,
                     const Note& note, Leftover* left) {
    // Flags 0: a symbolic link is linked itself, never its target.
    if (linkat(dir, old_name, dir, new_name, 0) != 0) {
        // EPERM: no hard links here, or not for this user.
        if (errno == EPERM || errno == EMLINK || refused_flag(errno)) {
            return Outcome::not_supported;
        }
        if (errno != EEXIST || note.held != Note::left_by_a_run) {
            return failure(MOVE_OUTCOMES);
        }
        if (!names_file(dir, new_name, file)) {
            return Outcome::not_supported;  // what stands there may be the killed run's claim
        }
    } else if (!names_file(dir, new_name, file)) {
        return Outcome::name_taken;  // the link was replaced at once: new_name is another's now
    }
    if (unlinkat(dir, old_name, 0) == 0 || !names_file(dir, old_name, file)) {
        return Outcome::done;  // old_name no longer names the file: it stands at new_name
    }
    const Outcome kept = failure(MOVE_OUTCOMES);
    if (!names_file(dir, new_name, file) || unlinkat(dir, new_name, 0) != 0) {
        *left = Leftover::second_name;
    }
    return kept;
}

// Makes the empty file new_name exclusively. Unopened where it can be: FUSE releases a file
// closed just before the rename onto it late, and libfuse would keep what that rename replaced
// as a hidden file.
bool make_claim_file(int dir, const char* new_name) {
#if KIRLATIN_USE_MKNODAT
    if (mknodat(dir, new_name, S_IFREG | 0600, 0) == 0) {
        return true;  // where it fails, so does the open below, or the open makes the file
    }
#endif
    const int fd =
        openat(dir, new_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

// True when name is an empty entry of the kind a claim for a directory or a file would be.
bool is_empty_claim(int dir, const char* name, bool directory, struct stat* claim) {
    return fstatat(dir, name, claim, AT_SYMLINK_NOFOLLOW) == 0 &&
           (directory ? S_ISDIR(claim->st_mode) : S_ISREG(claim->st_mode) && claim->st_size == 0);
}

// Step 3: claims new_name with an empty entry of the tool's own, made exclusively (a directory for
// a directory, a file for anything else), or takes the claim a killed run left beside its note,
// and moves old_name onto it. A directory replaces only an empty directory, so anything put into
// the claim meanwhile makes the move fail; a file replaces its claim only while that is still an
// empty file. A claim the move did not take is removed while it is still empty.
Outcome move_onto_claim(int dir, const char* old_name, const char* new_name, bool directory,
                        const Note& note, Leftover* left) {
    struct stat claim;
    bool claimed = false;
    if (directory) {
        claimed = mkdirat(dir, new_name, 0700) == 0;
    } else {
        claimed = make_claim_file(dir, new_name);
    }
    if (!claimed && !(errno == EEXIST && note.held == Note::left_by_a_run &&
                      is_empty_claim(dir, new_name, directory, &claim))) {
        return failure(MOVE_OUTCOMES);
    }
    if (claimed && !directory && !is_empty_claim(dir, new_name, directory, &claim)) {
        return Outcome::name_taken;  // no longer the empty claim made: somebody else's now
    }
    if (renameat(dir, old_name, dir, new_name) == 0) {
        return Outcome::done;
    }
    const int error = errno;
    const bool removed = directory
                             ? unlinkat(dir, new_name, AT_REMOVEDIR) == 0
                             : !names_file(dir, new_name, claim) || unlinkat(dir, new_name, 0) == 0;
    // A directory claim that cannot be removed because it holds something is somebody else's.
    if (!removed && errno != ENOENT && errno != ENOTEMPTY && errno != EEXIST) {
        *left = Leftover::claim;
    }
    errno = error == ENOTDIR || error == EISDIR ? EEXIST : error;
    return failure(MOVE_OUTCOMES);
}

// Steps 2 and 3 of a move, where the file system refuses the rename that never replaces: under
// the directory's lock, with signals held, the entry is looked at as it stands now, its note
// taken, and the move made or finished. The note goes once nothing of the move is left at
// new_name; where something is, it stays, so that a later run knows it.
Outcome move_by_fallback(Directory* dir, const char* old_name, const char* new_name,
                         Leftover* left) {
    const DirectoryLock lock(dir->fd);
    if (!lock.held) {
        return failure(MOVE_OUTCOMES);
    }
    const HeldSignals held;
    struct stat entry;
    Note note(new_name);
    if (fstatat(dir->fd, old_name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        return failure(MOVE_OUTCOMES);  // gone meanwhile, moved by another run
    }
    if (!note.take(dir->fd)) {
        return errno == ENOTSUP ? Outcome::not_supported : failure(MOVE_OUTCOMES);
    }
    // 2. A file moves by a hard link, where its inode number proves the link to be the file's.
    Outcome moved = is_identified_file(dir, old_name, entry)
                        ? move_by_link(dir->fd, old_name, new_name, entry, note, left)
                        : Outcome::not_supported;
    // 3. A directory, or a file that cannot be so linked, moves onto a claim of its new name.
    if (moved == Outcome::not_supported) {
        moved = move_onto_claim(dir->fd, old_name, new_name, S_ISDIR(entry.st_mode), note, left);
    }
    if (*left == Leftover::none) {
        note.remove(dir->fd);
    } else {
        dir->notes_kept = true;
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
    return take_directory(openat(parent->fd, bytes, O_RDONLY | O_DIRECTORY | O_CLOEXEC),
                          OPEN_ROOT_OUTCOMES, opened);
}

// A volume that ignores letter case (exFAT, APFS and HFS+ by default) or, on macOS, the form of
// an accented letter opens the root by a name its parent does not list. The parent's listing
// then tells the name stored: the one entry that is the same file; or, where the system numbers
// a file by the name it was reached by (FUSE) and no entry is the same file, the one entry of the
// root's kind that is the typed name in other letter case, which such a volume holds only once.
bool stored_root_name(Directory* parent, const char16_t* typed, PathBuffer& stored) {
    char bytes[PATH_BYTES];
    struct stat root;
    const int fd =
        to_bytes(typed, bytes) && fstatat(parent->fd, bytes, &root, AT_SYMLINK_NOFOLLOW) == 0
            ? openat(parent->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
            : -1;
    if (fd < 0) {
        return false;
    }
    ListingState listing;
    start_listing(&listing);
    PathBuffer name;
    PathBuffer same_file_name;
    PathBuffer other_case_name;
    int same_files = 0;
    int other_cases = 0;
    Record record;
    Listing listed;
    while ((listed = next_record(&listing, fd, &record)) == Listing::entry &&
           strcmp(record.name, bytes) != 0) {
        std::size_t units = 0;
        struct stat status;
        if (!utf8_to_utf16(record.name, strlen(record.name), name, PATH_UNITS, &units)) {
            continue;
        }
        const bool other_case = same_but_letter_case(name, typed);
        if ((record.inode == root.st_ino || other_case) &&
            fstatat(fd, record.name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            // Each name fit a path buffer just now.
            if (same_file(status, root)) {
                format_text(same_file_name, u"%s", name);
                ++same_files;
            } else if (other_case && (status.st_mode & S_IFMT) == (root.st_mode & S_IFMT)) {
                format_text(other_case_name, u"%s", name);
                ++other_cases;
            }
        }
    }
    end_listing(&listing, fd);
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
    return take_directory(fd, OPEN_OUTCOMES, opened);
}

Listing read_entry(Directory* dir, DirEntry* entry) {
    for (;;) {
        Record record;
        const Listing listed = next_record(&dir->listing, dir->fd, &record);
        if (listed == Listing::end && dir->notes_listed && !dir->notes_kept) {
            dir->notes_listed = false;
            remove_notes(dir->fd);
        }
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
                               EntryKind kind, Leftover* left) {
    *left = Leftover::none;
    char old_bytes[PATH_BYTES];
    char new_bytes[PATH_BYTES];
    if (!to_bytes(old_name, old_bytes) || !to_bytes(new_name, new_bytes)) {
        return Outcome::path_too_long;
    }
    // 1. The system's rename that never replaces. A file system that cannot says so, and the
    // fallback follows; never a plain rename(). The kernel finds new_name taken before a file
    // system can refuse the flag, so there a stamped note tells what a killed run left.
    Outcome moved = Outcome::done;
    if (rename_excl(dir->fd, old_bytes, new_bytes) != 0) {
        const int error = errno;
        if (error == EEXIST ? is_stamped_note(dir->fd, Note(new_bytes).name)
                            : refused_flag(error)) {
            moved = move_by_fallback(dir, old_bytes, new_bytes, left);
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

void clear_move_note(Directory* dir, const char16_t* name) {
    char bytes[PATH_BYTES];
    if (!to_bytes(name, bytes)) {
        return;
    }
    const Note note(bytes);
    if (is_stamped_note(dir->fd, note.name)) {
        const DirectoryLock lock(dir->fd);
        if (lock.held && is_stamped_note(dir->fd, note.name)) {
            note.remove(dir->fd);
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
