// The rival of the attack test, who owns one directory of the tree: it runs the tool and, the
// moment the tool opens that directory, swaps it for a link to a directory outside the tree in
// one renameat2(RENAME_EXCHANGE). Exits with the tool's exit status, or 2 when it could not swap.
//     swap_rival DIRECTORY LINK COMMAND...
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    char event[4096];
    const int watch = inotify_init();
    if (argc < 4 || watch < 0 || inotify_add_watch(watch, argv[1], IN_OPEN) < 0) {
        return 2;
    }
    const pid_t tool = fork();
    if (tool == 0) {
        execvp(argv[3], argv + 3);
        _exit(127);
    }
    int status = 0;
    const int swapped = read(watch, event, sizeof event) > 0 &&
                        renameat2(AT_FDCWD, argv[1], AT_FDCWD, argv[2], RENAME_EXCHANGE) == 0;
    return waitpid(tool, &status, 0) == tool && swapped && WIFEXITED(status) ? WEXITSTATUS(status)
                                                                             : 2;
}
