/* The least work a renamer that reaches the file system through open directories can do, as the
 * benchmark's floor: list each directory with readdir on its descriptor, map each name through
 * the transliteration table, rename a changed name with one renameat2(RENAME_NOREPLACE) relative
 * to that descriptor, keep its line for a 64 KiB block, and open every subdirectory with openat
 * under its new name, never following a link.
 *
 *     floor ROOT
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* Built with -DCHECK_THEN_RENAME, it is instead a check-then-rename program such as `mv -n`: a
 * stat of the new name, then a plain rename where nothing stands there, which may replace what
 * was made meanwhile. Built with -DCLAIM_THEN_RENAME, it is the least a renamer that never
 * replaces can do where the file system has no such rename: an empty claim of the new name made
 * exclusively, then a rename onto it. */
#ifdef CHECK_THEN_RENAME
#define RENAME(dir, old, new) \
    (faccessat(dir, new, F_OK, AT_SYMLINK_NOFOLLOW) != 0 ? renameat(dir, old, dir, new) : -1)
#elif defined(CLAIM_THEN_RENAME)
#define RENAME(dir, old, new)                                                                \
    ((is_dir ? mkdirat(dir, new, 0700) : mknodat(dir, new, S_IFREG | 0600, 0)) == 0 \
         ? renameat(dir, old, dir, new)                                                  \
         : -1)
#else
#define RENAME(dir, old, new) renameat2(dir, old, dir, new, RENAME_NOREPLACE)
#endif

/* Latin for а..я (U+0430..U+044F), then ё (U+0451). Capitals are these in upper case. */
static const char* const LATIN[33] = {
    "a", "b", "v", "g", "d", "e", "zh", "z", "i",  "j",  "k", "l", "m", "n", "o",  "p",  "r",
    "s", "t", "u", "f", "h", "c", "ch", "sh", "sh", "'", "y", "'", "e", "yu", "ya", "e"};

/* The code point of the two-byte UTF-8 sequence at s, or 0 when there is none. */
static unsigned two_byte(const unsigned char* s) {
    if ((s[0] & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80) {
        return ((s[0] & 0x1Fu) << 6) | (s[1] & 0x3Fu);
    }
    return 0;
}

/* Index into LATIN and whether the letter is a capital; -1 for anything else. */
static int table_index(unsigned c, int* capital) {
    *capital = (c >= 0x410 && c <= 0x42F) || c == 0x401;
    if (c >= 0x430 && c <= 0x44F) return (int)(c - 0x430);
    if (c >= 0x410 && c <= 0x42F) return (int)(c - 0x410);
    if (c == 0x451 || c == 0x401) return 32;
    return -1;
}

/* Writes the Latin form of name into out; returns 1 when a letter was mapped. */
static int latinize(const char* name, char* out, size_t size) {
    const unsigned char* s = (const unsigned char*)name;
    size_t n = 0;
    int changed = 0;
    while (*s != 0 && n + 3 < size) {
        const unsigned c = two_byte(s);
        int capital = 0;
        const int index = c != 0 ? table_index(c, &capital) : -1;
        if (index < 0) {
            out[n++] = (char)*s++;
            continue;
        }
        const char* latin = LATIN[index];
        const unsigned next = two_byte(s + 2);
        const int small_next = next >= 0x430 && next <= 0x44F;
        for (size_t i = 0; latin[i] != 0; ++i) {
            const int upper = capital && (i == 0 || !small_next);
            out[n++] = upper && latin[i] >= 'a' && latin[i] <= 'z' ? (char)(latin[i] - 32)
                                                                    : latin[i];
        }
        s += 2;
        changed = 1;
    }
    out[n] = 0;
    return changed;
}

/* Lines go out in 64 KiB blocks, as kirlatin writes them to a file or a pipe. */
static char output[64 * 1024];
static size_t output_used;

static void flush_output(void) {
    if (output_used > 0 && write(STDOUT_FILENO, output, output_used) < 0) {
        /* the lines are lost, the walk goes on */
    }
    output_used = 0;
}

static void emit(const char* line, size_t length) {
    if (output_used + length > sizeof output) flush_output();
    memcpy(output + output_used, line, length);
    output_used += length;
}

/* Walks the directory open as fd, whose path is path; closes fd. */
static void walk(int fd, const char* path) {
    DIR* listing = fdopendir(fd);
    if (listing == NULL) {
        close(fd);
        return;
    }
    struct dirent* entry;
    while ((entry = readdir(listing)) != NULL) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        const int is_dir = entry->d_type == DT_DIR;
        char latin[1024], old_path[4096], new_path[4096], line[8192];
        const int changed = latinize(name, latin, sizeof latin);
        if (!changed && !is_dir) continue;
        snprintf(new_path, sizeof new_path, "%s/%s", path, latin);
        if (changed && RENAME(dirfd(listing), name, latin) == 0) {
            snprintf(old_path, sizeof old_path, "%s/%s", path, name);
            const int length = snprintf(line, sizeof line, "rename %s from %s to %s\n",
                                        is_dir ? "directory" : "file", old_path, new_path);
            emit(line, (size_t)length);
        }
        if (is_dir) {
            walk(openat(dirfd(listing), latin, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
                 new_path);
        }
    }
    closedir(listing);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("use: floor ROOT\n", stderr);
        return 1;
    }
    const int root = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return 1;
    walk(root, argv[1]);
    flush_output();
    return 0;
}
