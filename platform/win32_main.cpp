// The process entry on Windows: the arguments arrive as UTF-16 already.
#include <windows.h>

#include "app/kirlatin.h"
#include "platform/output.h"

int wmain(int argc, wchar_t** argv) {
    output_start();
    const char16_t* root_argument =
        argc == 2 ? reinterpret_cast<const char16_t*>(argv[1]) : nullptr;
    return output_finish(kirlatin_main(argc, root_argument));
}
