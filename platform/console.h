// The console a command-line program runs in: Ctrl-C, the standard
// streams, the command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Calls `onInterrupt` on a thread of its own for each Ctrl-C (and on POSIX
// SIGTERM, on Windows Ctrl-Break and the console closing), never inside a
// system call of another thread, so a request on the link is never cut off
// half-way. Call once, before any other thread is created.
void WatchInterrupts(void (*onInterrupt)());

// From inside `onInterrupt`: waits up to `ms` for the next interrupt; true
// when one came.
bool WaitForNextInterrupt(int ms);

// Straight to standard error, unbuffered; safe on the interrupt thread.
void WriteStandardError(std::string_view text);

// Standard output passes bytes as they are (no CR put before LF), so
// `get -` writes a program exactly; on a Windows console text is UTF-8 and
// the terminal escapes of the progress line work. Call before any output.
void PrepareStandardStreams();

bool StandardErrorIsTerminal();

// The arguments after the program's name, as UTF-8 (on Windows read from
// the wide command line, whatever the console's code page).
std::vector<std::string> CommandLineArguments(int argc, char **argv);

}  // namespace platform
