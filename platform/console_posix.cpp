#include "platform/console.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace platform {

namespace {

// Signals are taken by sigwait on one thread: every other thread has them
// blocked, so no system call of the link is ever interrupted.
sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void WatchInterrupts(void (*onInterrupt)()) {
    const sigset_t set = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, onInterrupt] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) == 0) onInterrupt();
        }
    }).detach();
}

bool WaitForNextInterrupt(int ms) {
    const sigset_t set = InterruptSignals();
    const timespec wait{ms / 1000, (ms % 1000) * 1000000L};
    int got;
    while ((got = sigtimedwait(&set, nullptr, &wait)) < 0 && errno == EINTR) {
    }
    return got > 0;
}

void WriteStandardError(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(size_t(n));
    }
}

// POSIX streams are binary already.
void PrepareStandardStreams() {}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::vector<std::string> CommandLineArguments(int argc, char **argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace platform
