// The process entry on Linux and macOS: sets output up, converts the root argument to UTF-16 and
// runs the tool.
#include <string.h>

#include <algorithm>

#include "app/kirlatin.h"
#include "platform/output.h"
#include "platform/utf8.h"
#include "text/text.h"

namespace {

// Room for any root that fits a path buffer and well beyond.
constexpr std::size_t ARGUMENT_UNITS = 2 * PATH_UNITS;

// Decodes the argument into root. One too long for root leaves its end there instead, as much of
// it as makes a text too long for a path buffer as well, so that the front end shows how it ends
// and never walks it. A byte decodes to one unit at most, so every tail tried fits.
void decode_argument(const char* argument, char16_t (&root)[ARGUMENT_UNITS]) {
    const std::size_t length = strlen(argument);
    std::size_t units = 0;
    if (utf8_to_utf16(argument, length, root, ARGUMENT_UNITS, &units)) {
        return;
    }
    units = 0;
    for (std::size_t taken = 0; units < PATH_UNITS && taken < length;) {
        taken = std::min(length, taken + (ARGUMENT_UNITS - 1 - units));
        std::size_t start = length - taken;
        for (int skipped = 0; skipped < 3 && start > 0 && (argument[start] & 0xC0) == 0x80;
             ++skipped) {
            ++start;  // to the first byte of a character
        }
        utf8_to_utf16(argument + start, length - start, root, ARGUMENT_UNITS, &units);
    }
}

}  // namespace

int main(int argc, char** argv) {
    output_start();
    char16_t root[ARGUMENT_UNITS];
    const char16_t* root_argument = nullptr;
    if (argc == 2) {
        decode_argument(argv[1], root);
        root_argument = root;
    }
    return output_finish(kirlatin_main(argc, root_argument));
}
