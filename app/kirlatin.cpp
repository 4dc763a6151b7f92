// The front end: prints the banner and description, checks the root and hands it to the walk.
#include "app/kirlatin.h"

#include "console/console.h"
#include "platform/platform.h"
#include "tree/rename_tree.h"

#ifndef KIRLATIN_VERSION
#error "KIRLATIN_VERSION must be set by the build"
#endif

namespace {

constexpr char16_t BANNER[] = u"\nkirlatin " KIRLATIN_VERSION u"\n";
constexpr char16_t DESCRIPTION[] =
    u"Rename all files and subdirectories from cyrillic to translit\n\n";
constexpr char16_t USAGE[] = u"use: kirlatin.exe rootdir\n";
constexpr char16_t NOT_EXIST[] = u"%s not exist\n";

}  // namespace

int kirlatin_main(int argument_count, const char16_t* root_argument) {
    console_print(BANNER);
    console_print(DESCRIPTION);
    if (argument_count != 2) {
        console_print(USAGE);
        return 1;
    }
    PathBuffer root;
    // A root that does not fit is never walked in part; the line shows its end.
    if (!format_text(root, u"%s", root_argument) || !is_directory(root)) {
        console_print(NOT_EXIST, root_argument);
        return 1;
    }
    return rename_tree(root) == 0 ? 0 : 2;
}
