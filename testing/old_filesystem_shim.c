// Makes the tool see a file system of an older kind (NFS, older FUSE, kernels before 3.15): when
// loaded with LD_PRELOAD, renameat2 refuses every call, with each error such systems give in
// turn, and readdir gives no entry types (DT_UNKNOWN). A name that starts with "Упрям" cannot be
// removed (EPERM), as in an append-only directory.
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <string.h>

int renameat2(int old_dir, const char* old_path, int new_dir, const char* new_path,
              unsigned int flags) {
    static const int refusals[] = {ENOSYS, EINVAL, EOPNOTSUPP};
    static unsigned int calls;
    (void)old_dir, (void)old_path, (void)new_dir, (void)new_path, (void)flags;
    errno = refusals[calls++ % 3];
    return -1;
}

struct dirent* readdir(DIR* dir) {
    struct dirent* entry = ((struct dirent * (*)(DIR*)) dlsym(RTLD_NEXT, "readdir"))(dir);
    if (entry) {
        entry->d_type = DT_UNKNOWN;
    }
    return entry;
}

int unlinkat(int dir, const char* path, int flags) {
    if (strncmp(path, "Упрям", strlen("Упрям")) == 0) {
        errno = EPERM;
        return -1;
    }
    return ((int (*)(int, const char*, int))dlsym(RTLD_NEXT, "unlinkat"))(dir, path, flags);
}
