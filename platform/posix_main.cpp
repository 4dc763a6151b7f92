// The process entry on Linux and macOS: sets output up, converts the root argument to UTF-16 and
// runs the tool.
#include <string.h>

#include "app/kirlatin.h"
#include "platform/output.h"
#include "platform/utf8.h"
#include "text/text.h"

namespace {

// Room for any root that fits a path buffer and well beyond: each unit is at most three bytes.
constexpr std::size_t ARGUMENT_UNITS = 3 * PATH_UNITS + 4;

// Decodes the argument into root. One too long for root leaves its end there instead: its last
// ARGUMENT_UNITS - 1 bytes from the first that starts a character, which decode to one unit a byte
// at most, and to no fewer units than a path buffer holds, so that the front end shows how it
// ends and never walks it.
void decode_argument(const char* argument, char16_t (&root)[ARGUMENT_UNITS]) {
    const std::size_t length = strlen(argument);
    std::size_t units = 0;
    if (utf8_to_utf16(argument, length, root, ARGUMENT_UNITS, &units)) {
        return;
    }
    std::size_t start = length - (ARGUMENT_UNITS - 1);
    for (int skipped = 0; skipped < 3 && (argument[start] & 0xC0) == 0x80; ++skipped) {
        ++start;
    }
    utf8_to_utf16(argument + start, length - start, root, ARGUMENT_UNITS, &units);
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
