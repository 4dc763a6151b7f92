// The process entry on Windows: the arguments arrive as UTF-16 already.
#include <windows.h>

#include "app/kirlatin.h"
#include "platform/platform.h"

int wmain(int argc, wchar_t** argv) {
    // A drive without a medium answers "no directory" instead of raising a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const char16_t* root_argument =
        argc == 2 ? reinterpret_cast<const char16_t*>(argv[1]) : nullptr;
    const int exit_code = kirlatin_main(argc, root_argument);
    console_flush();
    return exit_code;
}
