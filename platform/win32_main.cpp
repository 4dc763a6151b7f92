// The process entry on Windows: the arguments arrive as UTF-16 already, the root as cmd hands a
// quoted folder over mended.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>  // CommandLineToArgvW

#include "app/kirlatin.h"
#include "platform/output.h"
#include "platform/win32_names.h"

int wmain(int argc, wchar_t** argv) {
    output_start();
    char16_t* root_argument = argc == 2 ? reinterpret_cast<char16_t*>(argv[1]) : nullptr;
    if (root_argument != nullptr) {
        mend_typed_root(root_argument);
    }
    return output_finish(kirlatin_main(argc, root_argument));
}

// Where the C run-time starts main, not wmain (zig's mingw-w64 for Windows on Arm knows no
// -municode), the arguments are taken as UTF-16 from the system all the same.
int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    return argv == nullptr ? 1 : wmain(argc, argv);
}
