#include "cli/interrupt.h"

#include <atomic>
#include <cstdlib>

#include "platform/console.h"

namespace dncctl {

namespace {

std::atomic<bool> stoppable{false};
std::atomic<bool> stopRequested{false};

// On the console layer's own thread, once for each Ctrl-C.
void OnInterrupt() {
    if (stoppable.load() && !stopRequested.exchange(true)) {
        platform::WriteStandardError(
            "\ndncctl: stopping, sending the abort block (Ctrl-C again to quit at once)\n");
        // The transfer ends itself at its next block; a request waiting on a
        // silent controller may take longer than that. Either another Ctrl-C
        // or the grace ends the program.
        platform::WaitForNextInterrupt(kStopGraceMs);
        platform::WriteStandardError("dncctl: stopped\n");
    }
    std::_Exit(kExitInterrupted);
}

}  // namespace

void InstallInterruptHandling() { platform::WatchInterrupts(OnInterrupt); }

void BeginStoppableTransfer() {
    stopRequested = false;
    stoppable = true;
}

void EndStoppableTransfer() { stoppable = false; }

bool StopRequested() { return stopRequested.load(); }

}  // namespace dncctl
