// One transfer seen from the main window: the worker thread that runs the
// transfer flow, the queue that carries its effects to the window thread,
// and the window-side state those effects build up (the text not yet in the
// memo, the latest progress). The same arrangement as a DNC run's.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "app/transfer_flow.h"
#include "app/window_queue.h"

class TForm1::TransferRun final : public TransferView {
public:
    using Job = std::function<TransferOutcome(TransferFlow &flow)>;
    using Finished = std::function<void(const TransferOutcome &outcome)>;

    // `what` names the transfer in the close question; `listingRequest` is
    // the folder read again after a write.
    TransferRun(TForm1 &form, QString what, QString listingRequest, Finished finished);
    ~TransferRun() override;

    // Creates the worker thread; false when the system refused one.
    bool Start(TransferTarget target, Job job);

    // Called on the worker thread; each posts its effect to the window,
    // except the listing request, which the worker makes itself.
    void TransferStarting() override;
    void Progress(uint64_t done, uint64_t total) override;
    void ProgressFull() override;
    void ProgressEnded() override;
    void ShowStatus(const QString &text) override;
    void ShowResultCode(uint8_t code) override;
    void ShowEndNote(const QString &note) override;
    void AddLogLine(const QString &line) override;
    void ShowFileError() override;
    void DownloadStarting(const QString &remotePath) override;
    void DownloadText(const QString &text) override;
    void DownloadEnded(const QString &remotePath, bool whole) override;
    uint8_t RefreshListing() override;
    void Journal(const TransferJournalLine &line) override;
    bool AbortRequested() override;

    // Any thread: the user closed the window, the loops stop at the next
    // block.
    void RequestAbort() { abort_.store(true); }
    // The window lets go of the run: a worker waiting for the memo to take
    // its text goes on without it.
    void Release();

    const std::shared_ptr<WindowQueue> queue;
    std::thread worker;
    const QString what;
    // Window thread, once the worker has ended: what the flow returned,
    // and what the handler that started it does with that.
    TransferOutcome outcome;
    Finished finished;
    // Window thread: bytes moved and the size, as last shown.
    uint64_t Moved() const { return done_; }
    uint64_t Total() const { return total_; }

private:
    // Window thread: what came since the window's last turn, in one go.
    void Flush();

    TForm1 &form_;
    const QString listingRequest_;
    uint8_t deviceId_ = 0;
    std::atomic<bool> abort_{false};
    // Text handed to the window and not yet in the memo. The worker waits
    // while there is this much: a download on a fast link outruns the
    // memo, and the window would spend its turns inserting huge pieces
    // instead of painting and seeing keys.
    static constexpr qsizetype kTextAhead = 32 * 1024;
    std::mutex textMutex_;
    std::condition_variable textTaken_;
    qsizetype textPending_ = 0;
    bool released_ = false;
    // Worker: the listing's bytes, kept for the run.
    std::vector<uint8_t> listing_;
    // Window thread.
    bool memoWasReadOnly_ = false;
    QString memoBatch_;
    bool progressPending_ = false;
    bool rateRestart_ = false;
    uint64_t done_ = 0;
    uint64_t total_ = 0;
};
