#include "cli/interrupt.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace dncctl {

namespace {

std::atomic<bool> stoppable{false};
std::atomic<bool> stopRequested{false};

void SignalLoop(sigset_t set) {
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (stoppable.load() && !stopRequested.exchange(true)) {
            static const char note[] = "\ndncctl: stopping, sending the abort block (Ctrl-C again to quit at once)\n";
            (void)!write(STDERR_FILENO, note, sizeof note - 1);
            // The transfer ends itself at its next block; a request waiting
            // on a silent controller may take longer than that. Either
            // another signal or the grace ends the program.
            const timespec grace{kStopGraceMs / 1000, (kStopGraceMs % 1000) * 1000000L};
            while (sigtimedwait(&set, nullptr, &grace) < 0 && errno == EINTR) {
            }
            static const char late[] = "dncctl: stopped\n";
            (void)!write(STDERR_FILENO, late, sizeof late - 1);
        }
        _exit(kExitInterrupted);
    }
}

}  // namespace

void InstallInterruptHandling() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(SignalLoop, set).detach();
}

void BeginStoppableTransfer() {
    stopRequested = false;
    stoppable = true;
}

void EndStoppableTransfer() { stoppable = false; }

bool StopRequested() { return stopRequested.load(); }

}  // namespace dncctl
