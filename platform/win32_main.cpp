// The process entry on Windows: the arguments arrive as UTF-16 already, the root as cmd hands a
// quoted folder over mended.
#include <windows.h>

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
