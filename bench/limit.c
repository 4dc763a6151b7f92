/* The listing limit: the least a walk that renames nothing can do. It lists each directory with
 * getdents64 into a buffer of its own, opens each subdirectory relative to its parent with
 * openat, never following a link, and prints nothing.
 *
 *     limit ROOT
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

static void walk(int dir) {
    char records[32768] __attribute__((aligned(8)));
    ssize_t got;
    while ((got = getdents64(dir, records, sizeof records)) > 0) {
        for (ssize_t at = 0; at < got;) {
            const struct dirent64* entry = (const struct dirent64*)(records + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (entry->d_type != DT_DIR ||
                (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) {
                continue;
            }
            const int sub = openat(dir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
            if (sub >= 0) {
                walk(sub);
            }
        }
    }
    close(dir);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("use: limit ROOT\n", stderr);
        return 1;
    }
    const int root = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        perror(argv[1]);
        return 1;
    }
    walk(root);
    return 0;
}
