// Standard output and stop requests on Windows: to a console as UTF-16, each line at once; to a
// file or a pipe as UTF-8, kept back in 64 KiB blocks. Ctrl+C, Ctrl+Break and closing the console
// window are recorded for the walk to see. The system runs the handler on a thread of its own:
// when the walk has not ended the process within STOP_GRACE_MILLISECONDS, the handler writes what
// is kept and ends it, however long a directory call takes.
#include <windows.h>

#include "platform/output.h"
#include "text/text.h"

namespace {

// The exit status of a process that Ctrl+C ended, as the system gives it.
constexpr UINT STOPPED_EXIT_CODE = 0xC000013A;

// The most bytes one line takes, however it encodes in UTF-8.
constexpr std::size_t LINE_BYTES = PATH_UNITS * 3;

// Lines kept back are written once KEPT_BYTES have gathered; the room beyond takes the line that
// reaches it. The lock keeps the walk's thread and the handler's from writing them both.
constexpr std::size_t KEPT_BYTES = 64 * 1024;
char kept[KEPT_BYTES + LINE_BYTES];
std::size_t kept_length = 0;
SRWLOCK kept_lock = SRWLOCK_INIT;
bool to_console = false;

volatile LONG stop_event = -1;  // the first control event received, -1 before any

bool write_all(const char* bytes, std::size_t length) {
    // Fetched for every write, as standard output may be changed under a running process.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
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

// Writes out the kept lines, with kept_lock held; a failed write loses them.
bool write_kept() {
    const bool written = write_all(kept, kept_length);
    kept_length = 0;
    return written;
}

BOOL WINAPI record_stop_request(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (InterlockedCompareExchange(&stop_event, static_cast<LONG>(event), -1) != -1) {
        return TRUE;  // the first request's handler ends the process
    }
    Sleep(STOP_GRACE_MILLISECONDS);
    // The walk is still in a directory call, or in a write whose lines are lost then.
    if (TryAcquireSRWLockExclusive(&kept_lock)) {
        write_kept();
    }
    ExitProcess(STOPPED_EXIT_CODE);
}

}  // namespace

void output_start() {
    // A drive without a medium answers "no directory" instead of raising a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    DWORD mode = 0;
    to_console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    SetConsoleCtrlHandler(record_stop_request, TRUE);
}

bool console_write(const char16_t* text, std::size_t units) {
    if (units >= PATH_UNITS) {
        return false;
    }
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
    if (to_console) {
        const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
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
    // WriteConsoleW would fail on a file or a pipe, so the text goes out as UTF-8. A lone
    // surrogate, which UTF-8 cannot hold, is written as U+FFFD.
    if (units == 0) {
        return true;
    }
    AcquireSRWLockExclusive(&kept_lock);
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units),
                                           kept + kept_length, LINE_BYTES, nullptr, nullptr);
    kept_length += length > 0 ? static_cast<std::size_t>(length) : 0;
    const bool kept_or_written = length > 0 && (kept_length < KEPT_BYTES || write_kept());
    ReleaseSRWLockExclusive(&kept_lock);
    return kept_or_written;
}

bool stop_requested() {
    return stop_event != -1;
}

int output_finish(int exit_code) {
    AcquireSRWLockExclusive(&kept_lock);
    write_kept();
    if (stop_requested()) {
        ExitProcess(STOPPED_EXIT_CODE);
    }
    ReleaseSRWLockExclusive(&kept_lock);
    return exit_code;
}
