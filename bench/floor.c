/* The least work a path-based renamer can do, as the benchmark's floor: list each directory with
 * readdir, map each name through the transliteration table, rename a changed name with one
 * renameat2(RENAME_NOREPLACE) and write its line with one write(); descend into every
 * directory under its new name.
 *
 *     floor ROOT
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

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

static void walk(const char* dir) {
    DIR* listing = opendir(dir);
    if (listing == NULL) return;
    struct dirent* entry;
    while ((entry = readdir(listing)) != NULL) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        const int is_dir = entry->d_type == DT_DIR;
        char latin[1024], old_path[4096], new_path[4096], line[8192];
        const int changed = latinize(name, latin, sizeof latin);
        if (!changed && !is_dir) continue;
        snprintf(new_path, sizeof new_path, "%s/%s", dir, latin);
        if (changed) {
            snprintf(old_path, sizeof old_path, "%s/%s", dir, name);
            if (renameat2(AT_FDCWD, old_path, AT_FDCWD, new_path, RENAME_NOREPLACE) == 0) {
                const int length = snprintf(line, sizeof line, "rename %s from %s to %s\n",
                                            is_dir ? "directory" : "file", old_path, new_path);
                if (write(STDOUT_FILENO, line, (size_t)length) < 0) {
                    /* the line is lost, the walk goes on */
                }
            }
        }
        if (is_dir) walk(new_path);
    }
    closedir(listing);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("use: floor ROOT\n", stderr);
        return 1;
    }
    walk(argv[1]);
    return 0;
}
