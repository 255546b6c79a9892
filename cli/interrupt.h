// Ctrl-C handling. Ctrl-C is taken on a thread of its own (the console
// layer's), so the link's system calls are never interrupted half-way
// through a request.
// While a transfer is running the first Ctrl-C only asks it to stop: the
// transfer then sends the abort block and the program exits non-zero. A
// second Ctrl-C, or one outside a transfer, ends the program at once, and
// so does the first one when the stop has not ended the program within
// kStopGrace: Ctrl-C never leaves a user waiting on a dead line.
#pragma once

namespace dncctl {

// Starts taking Ctrl-C (and SIGTERM, or the console closing). Call before
// any other thread is created.
void InstallInterruptHandling();

// Brackets a transfer during which Ctrl-C asks for a stop.
void BeginStoppableTransfer();
void EndStoppableTransfer();

// True once Ctrl-C was pressed during the current transfer.
bool StopRequested();

// Exit status of an interrupted run.
inline constexpr int kExitInterrupted = 130;

// How long the first Ctrl-C lets a transfer end itself (send the abort
// block, remove its temporary file) before the program ends regardless.
inline constexpr int kStopGraceMs = 900;

}  // namespace dncctl
