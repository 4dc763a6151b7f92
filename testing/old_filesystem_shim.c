// Makes the tool see a file system of an older kind (NFS, FUSE, kernels before 3.15): when
// loaded with LD_PRELOAD, renameat2 refuses every call, with each error such systems give in
// turn, or EEXIST where the kernel finds the new name taken first; and listings give no entry
// types (DT_UNKNOWN). Names pick what else goes wrong:
//   "Сбой" and a digit, anywhere in the name: renameat2, renameat and linkat fail with the error
//     of that index in `faults` instead, none of which a file system here gives on demand;
//   "Упрям" or "Upryam": cannot be removed, and "Упрям" not renamed (EPERM), as in an
//     append-only directory; "Упор" cannot be removed either;
//   "Копия": cannot be linked (EPERM), as on exFAT, nor fail renameat2 by "Сбой", so that only
//     the move onto a claim fails; "Kopiya" is not made by an exclusive open,
//     as where FUSE would keep a replaced claim, released late, as a hidden file;
//   "Двойник": has an inode number of its own per name, as on sshfs, and "Dvojnik" cannot be
//     made by mknod, as where a FUSE file system has none;
//   "Нечитаемо": the directory that holds it cannot be listed (EIO), as a damaged one.
// A file system is probed once per run: a second scratch directory is refused (EIO). With
// OLD_FILESYSTEM_READ_ONLY set it makes nothing, as squashfuse: no directory (ENOSYS) and no
// file (EROFS); with OLD_FILESYSTEM_NEVER_REPLACES its rename fails where the new name is taken,
// as rclone's does for directories.
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define NEXT(name, type) ((type)dlsym(RTLD_NEXT, name))
#define STARTS(path, prefix) (strncmp(path, prefix, strlen(prefix)) == 0)
#define REFUSED (errno = EPERM, -1)
#define TAKEN(dir, path) (faccessat(dir, path, F_OK, AT_SYMLINK_NOFOLLOW) == 0)

// The error "Сбой" and a digit asks for, or 0.
static int fault(const char* path) {
    static const int faults[] = {ENOSPC, EBUSY, EXDEV, EMFILE, EROFS, EIO, ELOOP};
    const char* at = strstr(path, "Сбой");
    return at ? faults[at[strlen("Сбой")] - '0'] : 0;
}

int renameat2(int old_dir, const char* old_path, int new_dir, const char* new_path,
              unsigned int flags) {
    static const int refusals[] = {ENOSYS, EINVAL, EOPNOTSUPP};
    static unsigned int calls;
    (void)old_dir, (void)flags;
    errno = fault(old_path) && !STARTS(old_path, "Копия") ? fault(old_path)
            : TAKEN(new_dir, new_path)                    ? EEXIST
                                                          : refusals[calls++ % 3];
    return -1;
}

ssize_t getdents64(int dir, void* buffer, size_t length) {
    if (TAKEN(dir, "Нечитаемо")) {
        return errno = EIO, -1;
    }
    const ssize_t got = NEXT("getdents64", ssize_t(*)(int, void*, size_t))(dir, buffer, length);
    for (ssize_t at = 0; at < got; at += ((struct dirent64*)((char*)buffer + at))->d_reclen) {
        ((struct dirent64*)((char*)buffer + at))->d_type = DT_UNKNOWN;
    }
    return got;
}

// Where listings are read through a stream instead (macOS's way).
DIR* fdopendir(int dir) {
    return TAKEN(dir, "Нечитаемо") ? (errno = EIO, NULL) : NEXT("fdopendir", DIR * (*)(int))(dir);
}

int unlinkat(int dir, const char* path, int flags) {
    return STARTS(path, "Упрям") || STARTS(path, "Upryam") || STARTS(path, "Упор")
               ? REFUSED
               : NEXT("unlinkat", int (*)(int, const char*, int))(dir, path, flags);
}

int renameat(int old_dir, const char* old_path, int new_dir, const char* new_path) {
    return fault(old_path) ? (errno = fault(old_path), -1)
           : getenv("OLD_FILESYSTEM_NEVER_REPLACES") && TAKEN(new_dir, new_path)
               ? (errno = EEXIST, -1)
           : STARTS(old_path, "Упрям")
               ? REFUSED
               : NEXT("renameat", int (*)(int, const char*, int, const char*))(old_dir, old_path,
                                                                               new_dir, new_path);
}

int linkat(int old_dir, const char* old_path, int new_dir, const char* new_path, int flags) {
    return STARTS(old_path, "Копия") ? REFUSED
           : fault(old_path)         ? (errno = fault(old_path), -1)
                             : NEXT("linkat", int (*)(int, const char*, int, const char*, int))(
                                   old_dir, old_path, new_dir, new_path, flags);
}

int fstatat(int dir, const char* path, struct stat* status, int flags) {
    const int result =
        NEXT("fstatat", int (*)(int, const char*, struct stat*, int))(dir, path, status, flags);
    status->st_ino +=
        result == 0 && (STARTS(path, "Двойник") || STARTS(path, "Dvojnik")) ? strlen(path) : 0;
    return result;
}

int mknodat(int dir, const char* path, mode_t mode, dev_t device) {
    return getenv("OLD_FILESYSTEM_READ_ONLY") ? (errno = EROFS, -1)
           : STARTS(path, "Dvojnik")
               ? REFUSED
               : NEXT("mknodat", int (*)(int, const char*, mode_t, dev_t))(dir, path, mode, device);
}

int mkdirat(int dir, const char* path, mode_t mode) {
    static int probes;
    const int probe = strcmp(path, ".kirlatin-probe") == 0;
    if (getenv("OLD_FILESYSTEM_READ_ONLY") || (probe && probes > 0)) {
        return errno = probe && probes > 0 ? EIO : ENOSYS, -1;
    }
    const int made = NEXT("mkdirat", int (*)(int, const char*, mode_t))(dir, path, mode);
    probes += probe && made == 0;
    return made;
}

int openat(int dir, const char* path, int flags, ...) {
    va_list more;
    va_start(more, flags);
    const mode_t mode = flags & O_CREAT ? va_arg(more, mode_t) : 0;
    va_end(more);
    return (flags & O_CREAT) && getenv("OLD_FILESYSTEM_READ_ONLY") ? (errno = EROFS, -1)
           : (flags & O_EXCL) && STARTS(path, "Kopiya")
               ? REFUSED
               : NEXT("openat", int (*)(int, const char*, int, ...))(dir, path, flags, mode);
}
