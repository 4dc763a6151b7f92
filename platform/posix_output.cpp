// Standard output and stop requests on Linux and macOS: UTF-8 lines, written at once to a
// terminal and kept back in 64 KiB blocks anywhere else; SIGINT, SIGTERM, SIGHUP and SIGQUIT
// recorded for the walk to see, and a deadline that ends the process by that signal however long
// a write has to wait.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/output.h"
#include "platform/utf8.h"
#include "text/text.h"

namespace {

constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The most bytes one line takes.
constexpr std::size_t LINE_BYTES = utf8_capacity_for(PATH_UNITS);

// Lines kept back are written once KEPT_BYTES have gathered; the room beyond takes the line that
// reaches it.
constexpr std::size_t KEPT_BYTES = 64 * 1024;
char kept[KEPT_BYTES + LINE_BYTES];
std::size_t kept_length = 0;
bool writes_at_once = false;

volatile sig_atomic_t stop_signal = 0;

[[noreturn]] void end_by(int signal_number) {
    struct sigaction default_action = {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);  // not reached: the default action ends the process
}

// The first stop request starts the deadline. setitimer is a plain system call on Linux and macOS,
// safe in a handler.
extern "C" void record_stop_request(int signal_number) {
    if (stop_signal == 0) {
        stop_signal = signal_number;
        const itimerval deadline = {{0, 0}, {0, STOP_GRACE_MILLISECONDS * 1000}};
        setitimer(ITIMER_REAL, &deadline, nullptr);
    }
}

// The deadline has passed: whatever is still being written is lost.
extern "C" void end_at_deadline(int) {
    if (stop_signal != 0) {
        end_by(stop_signal);
    }
}

void take_signal(int signal_number, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    // The handlers never run inside one another. SA_RESTART: a directory call on a network or
    // FUSE file system goes on as if no signal had come, rather than fail.
    sigemptyset(&action.sa_mask);
    for (const int stop : STOP_SIGNALS) {
        sigaddset(&action.sa_mask, stop);
    }
    sigaddset(&action.sa_mask, SIGALRM);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

// Writes bytes whole, waiting (poll) for an output that is not ready. A stalled reader holds it
// until the deadline of a stop request, if one comes.
bool write_out(const char* bytes, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t written = write(STDOUT_FILENO, bytes + done, length - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd output = {STDOUT_FILENO, POLLOUT, 0};
            if (poll(&output, 1, -1) < 0 && errno != EINTR) {
                return false;
            }
        } else if (written == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Writes out the kept lines; a failed write loses them (the reader has gone, the disk is full).
bool write_kept() {
    const bool written = write_out(kept, kept_length);
    kept_length = 0;
    return written;
}

}  // namespace

void output_start() {
    writes_at_once = isatty(STDOUT_FILENO) == 1;
    // A reader that goes away loses the lines, never the walk: writes fail with EPIPE instead.
    signal(SIGPIPE, SIG_IGN);
    // The deadline's timer is the tool's own; one inherited across exec is stopped.
    const itimerval stopped = {};
    setitimer(ITIMER_REAL, &stopped, nullptr);
    take_signal(SIGALRM, end_at_deadline);
    sigset_t taken;
    sigemptyset(&taken);
    sigaddset(&taken, SIGALRM);
    for (const int signal_number : STOP_SIGNALS) {
        struct sigaction inherited;
        if (sigaction(signal_number, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN) {
            take_signal(signal_number, record_stop_request);
            sigaddset(&taken, signal_number);
        }
    }
    // Whoever started the tool may have blocked them; a blocked signal would never arrive.
    sigprocmask(SIG_UNBLOCK, &taken, nullptr);
}

bool console_write(const char16_t* text, std::size_t units) {
    std::size_t length = 0;
    // Below KEPT_BYTES before every line, so a line of up to LINE_BYTES always has room.
    if (units >= PATH_UNITS ||
        !utf16_to_utf8(text, units, kept + kept_length, LINE_BYTES, &length)) {
        return false;
    }
    kept_length += length;
    return writes_at_once || kept_length >= KEPT_BYTES ? write_kept() : true;
}

bool stop_requested() {
    return stop_signal != 0;
}

int output_finish(int exit_code) {
    write_kept();
    if (stop_signal != 0) {
        end_by(stop_signal);
    }
    return exit_code;
}
