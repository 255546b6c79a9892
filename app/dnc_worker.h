// The DNC run's thread routine. It streams one NC program to the controller
// through the command layer's DNC loop and drives the window only through
// DncWindow, whose every call takes effect on the window thread in the
// order the routine makes it.
#pragma once

#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "nccmd/restart_stream.h"

// The user asked the run to stop: set to 0 by Start, to 1 by Stop, read by
// the worker before each block and after each busy answer, cleared by the
// worker at its end. One flag serves every run.
extern std::atomic<uint8_t> DncStopRequested;

// What the worker asks of the main window.
class DncWindow {
public:
    virtual ~DncWindow() = default;
    // OpenDialog1; the chosen file, or empty when the user cancelled or the
    // window went away.
    virtual QString ChooseProgram() = 0;
    virtual void SetStatus(const QString &text) = 0;  // status panel 1
    virtual void ShowResultCode(uint8_t code) = 0;
    // The local file could not be used: the file error box.
    virtual void ShowFileError() = 0;
    // Bytes streamed of the program's size: ProgressBar1 and the rate panel.
    virtual void SetProgress(uint64_t done, uint64_t total) = 0;
    virtual void SetProgressFull() = 0;
    // One block as sent (a leading '%' of block 1 already replaced), for
    // Memo1; the text ends at the first zero byte.
    virtual void ShowBlock(const uint8_t *data, size_t length) = 0;
    // The program file, the bytes read from it and their SHA-256, once the
    // run has ended with a file open; for the journal.
    virtual void ProgramStreamed(const QString &path, uint64_t bytes, const std::string &sha256) = 0;
    // The run ended before the program's end: where it stopped, for the
    // third status panel, the message log and the journal, and the offset
    // in the program file of the first byte the controller did not take,
    // from which a restart can be offered.
    virtual void RunStopped(const QString &note, uint64_t programByte) = 0;
    // The last call: BitBtn11 enabled, the window free for other requests.
    virtual void RunEnded() = 0;
};

// A run that restarts a program part way: the stream the restart dialog
// showed, sent in place of the program file's bytes. The window asked for
// the file already.
struct DncRestartJob {
    QString path;          // the program file
    std::string program;   // its bytes, as the plan was made from them
    nccmd::RestartPlan plan;
    std::string preambleSha256;
};

// Runs one DNC run against the controller at `address` over the link and
// engine the window set up; with `restart`, its stream rather than a file
// the window is asked for.
void DncWorker(DncWindow &window, uint8_t address, const DncRestartJob *restart = nullptr);

// Status panel 1 texts of a run.
QString DncStreamingText();
QString DncAbnormalText(int32_t code);
QString DncStoppedText();
// "stopped at block 4 of 10, program line 123 (byte 1536)": the first block
// the controller did not take, and where it begins in the program file, so
// the operator knows where to pick up the part.
QString DncStopNote(int64_t block, int64_t blocks, uint64_t line, uint64_t byte);
