/* Stands in for a file system that refuses RENAME_NOREPLACE (NFS, older FUSE): loaded with
   LD_PRELOAD, every renameat2 call fails with EINVAL, so the tool must take its fallback. */
#define _GNU_SOURCE
#include <errno.h>

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
