// One DNC run seen from the main window: the worker thread, the queue that
// carries its actions to the window thread, and the window-side state of
// the run (the memo text not yet shown, the latest progress).
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <thread>

#include "app/dnc_worker.h"
#include "app/gbk_text.h"
#include "app/window_queue.h"

class TForm1;

class DncRun final : public DncWindow {
public:
    explicit DncRun(TForm1 &form);
    ~DncRun() override;

    // Creates the worker thread; false when the system refused one. With
    // `restart`, the run sends its stream in place of asking for a file.
    bool Start(uint8_t address, std::shared_ptr<const DncRestartJob> restart = {});

    // Called on the worker thread; each posts its effect to the window.
    QString ChooseProgram() override;
    void SetStatus(const QString &text) override;
    void ShowResultCode(uint8_t code) override;
    void ShowFileError() override;
    void SetProgress(uint64_t done, uint64_t total) override;
    void SetProgressFull() override;
    void ShowBlock(const uint8_t *data, size_t length) override;
    void ProgramStreamed(const QString &path, uint64_t bytes, const std::string &sha256) override;
    void RunStopped(const QString &note, uint64_t programByte) override;
    void RunEnded() override;

    // Window thread, at the run's end: what the decoder still held (a
    // trailing CR) goes into the memo too.
    void FinishMemo();

    const std::shared_ptr<WindowQueue> queue;
    std::thread worker;
    bool memoWasReadOnly = false;
    // Window thread: a program file was chosen, so the run streams (or is
    // about to); its path.
    bool programChosen = false;
    QString chosenProgram;
    // Window thread: where a run that ended early stopped; empty otherwise.
    QString stopNote;
    uint64_t stoppedAt = 0;  // the program file's first byte not taken
    // The restart this run sends, or null for a whole program.
    std::shared_ptr<const DncRestartJob> restart;
    // Window thread: bytes the controller took and the program's size, as
    // last reported.
    uint64_t Done() const { return done_; }
    uint64_t Total() const { return total_; }
    // Window thread: what ProgramStreamed reported, for the journal line at
    // the run's end.
    bool streamed = false;
    QString programPath;
    uint64_t programBytes = 0;
    std::string programSha256;

private:
    // Window thread.
    void AddBlock(const QByteArray &bytes);
    void Flush();

    TForm1 &form_;
    GbkBlockDecoder decoder_;
    QString memoBatch_;          // decoded blocks not yet in the memo
    qsizetype memoChars_ = 0;    // characters in the memo
    bool progressPending_ = false;
    uint64_t done_ = 0;
    uint64_t total_ = 0;
};
