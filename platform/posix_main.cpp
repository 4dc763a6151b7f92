// The process entry on Linux and macOS: converts the root argument to UTF-16 and runs the tool.
#include <signal.h>
#include <string.h>

#include "app/kirlatin.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace {

// Room for any root that fits a path buffer and well beyond: an argument cut to this size is
// still too long for the root buffer, so the front end refuses it rather than walk a cut path.
constexpr std::size_t ARGUMENT_UNITS = 2 * PATH_UNITS;

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away loses the lines, never the walk: writes fail with EPIPE instead.
    signal(SIGPIPE, SIG_IGN);
    char16_t root[ARGUMENT_UNITS];
    const char16_t* root_argument = nullptr;
    if (argc == 2) {
        std::size_t units = 0;
        utf8_to_utf16(argv[1], strlen(argv[1]), root, ARGUMENT_UNITS, &units);
        root_argument = root;
    }
    const int exit_code = kirlatin_main(argc, root_argument);
    console_flush();
    return exit_code;
}
