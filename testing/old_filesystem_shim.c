/* Makes the tool see a file system of an older kind (NFS, older FUSE): loaded with LD_PRELOAD,
   renameat2 refuses every call with EINVAL, as for RENAME_NOREPLACE, and readdir gives no entry
   types (DT_UNKNOWN), so the tool must take its fallbacks for both. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>

int renameat2(int old_dir, const char* old_path, int new_dir, const char* new_path,
              unsigned int flags) {
    (void)old_dir;
    (void)old_path;
    (void)new_dir;
    (void)new_path;
    (void)flags;
    errno = EINVAL;
    return -1;
}

struct dirent* readdir(DIR* dir) {
    static struct dirent* (*real_readdir)(DIR*);
    if (real_readdir == NULL) {
        real_readdir = (struct dirent * (*)(DIR*)) dlsym(RTLD_NEXT, "readdir");
    }
    struct dirent* entry = real_readdir(dir);
    if (entry != NULL) {
        entry->d_type = DT_UNKNOWN;
    }
    return entry;
}
