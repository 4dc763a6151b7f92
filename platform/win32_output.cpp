// Standard output on Windows: to a console as UTF-16, to a file or a pipe as UTF-8, each line
// written as it comes. No stop request is recorded here: Ctrl+C ends the process the system's
// way, and no line is kept back to be lost by it.
#include <windows.h>

#include "platform/output.h"
#include "text/text.h"

namespace {

// Bytes for any message that fits a path buffer, however it encodes in UTF-8.
constexpr std::size_t MESSAGE_BYTES = PATH_UNITS * 3;

bool write_all(HANDLE output, const char* bytes, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        DWORD written = 0;
        if (!WriteFile(output, bytes + done, static_cast<DWORD>(length - done), &written,
                       nullptr) ||
            written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

void output_start() {
    // A drive without a medium answers "no directory" instead of raising a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

bool console_write(const char16_t* text, std::size_t units) {
    // Fetched for every message, as standard output may be changed under a running process.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == INVALID_HANDLE_VALUE || output == nullptr || units >= PATH_UNITS) {
        return false;
    }
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
    DWORD mode = 0;
    if (GetConsoleMode(output, &mode)) {
        std::size_t done = 0;
        while (done < units) {
            DWORD written = 0;
            if (!WriteConsoleW(output, wide + done, static_cast<DWORD>(units - done), &written,
                               nullptr) ||
                written == 0) {
                return false;
            }
            done += written;
        }
        return true;
    }
    // A file or a pipe: WriteConsoleW would fail there, so the text goes out as UTF-8. A lone
    // surrogate, which UTF-8 cannot hold, is written as U+FFFD.
    if (units == 0) {
        return true;
    }
    char bytes[MESSAGE_BYTES];
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), bytes,
                                           sizeof bytes, nullptr, nullptr);
    return length > 0 && write_all(output, bytes, static_cast<std::size_t>(length));
}

bool stop_requested() {
    return false;
}

int output_finish(int exit_code) {
    return exit_code;  // every line is written as it comes
}
