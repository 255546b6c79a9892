// The window's three transfers as plain code: a download into the text
// pane, an upload of a local file and a save-as of the pane's text, each
// with its read-back verify and its journal line. The flow knows no widget;
// it talks to a TransferView, the way the DNC worker talks to DncWindow, and
// works out every text it shows and journals itself.
//
// Threading: one model for transfers and the DNC run. The request runs on a
// worker thread of its own (TForm1::TransferRun, like DncRun), every effect
// on a widget is a call queued to the window thread in the order the flow
// makes it, and Escape or a closing window sets an atomic flag the block
// loops read. The window never processes its events from inside a transfer,
// so nothing the user clicks meanwhile can run in the middle of one; it
// refuses other requests (with its status text) until the worker has ended.
// The DNC run needed a thread already, so that it streams as fast as dncctl
// while the window paints; a single model means one set of rules for
// ending, closing and refusing. The flow itself keeps no state between
// transfers and touches nothing but its view and the command layer, so it
// runs the same in the tests, without a window.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>

#include "nccmd/compare_remote.h"
#include "nccmd/transfers.h"

// The controller a transfer talks to, and whether a write is read back.
struct TransferTarget {
    uint8_t deviceId = 0;
    bool verify = false;
};

// One journal line's own part; the window adds the time, the device and the
// link when it writes it.
struct TransferJournalLine {
    const char *operation = nullptr;
    QString remotePath;
    QString localFile;  // absolute; empty for the pane's text
    uint64_t bytes = 0;
    std::string sha256;
    QString result;     // the outcome text the user saw, with the end note
};

// What the flow asks of the window. Every call comes from the thread that
// runs the flow, in the order the transfer makes them.
class TransferView {
public:
    virtual ~TransferView() = default;
    // Status panel 1 for the transfer that starts now.
    virtual void TransferStarting() = 0;
    // Bytes moved of the announced size: the progress bar and the rate.
    virtual void Progress(uint64_t done, uint64_t total) = 0;
    // The progress bar full: the transfer ended whole.
    virtual void ProgressFull() = 0;
    // The rate panel is done with this pass of blocks.
    virtual void ProgressEnded() = 0;
    // Status panel 1: a plain text, or a result code (which also tells the
    // connection line whether the device answered, and the message log
    // what a failure means).
    virtual void ShowStatus(const QString &text) = 0;
    virtual void ShowResultCode(uint8_t code) = 0;
    // Status panel 2's note of a transfer that ended before its end.
    virtual void ShowEndNote(const QString &note) = 0;
    virtual void AddLogLine(const QString &line) = 0;
    // The local file could not be read: the file error box.
    virtual void ShowFileError() = 0;
    // A download replaces the pane's text: it starts empty, takes the
    // decoded text as blocks arrive, and ends whole or not.
    virtual void DownloadStarting(const QString &remotePath) = 0;
    virtual void DownloadText(const QString &text) = 0;
    virtual void DownloadEnded(const QString &remotePath, bool whole) = 0;
    // The current folder read again after a write; its result code.
    virtual uint8_t RefreshListing() = 0;
    // The journal line of the transfer, written by the window with the
    // time and the link.
    virtual void Journal(const TransferJournalLine &line) = 0;
    // Read before each block: the user asked to stop.
    virtual bool AbortRequested() = 0;
};

struct TransferOutcome {
    nccmd::TransferResult transfer;
    // Empty when the read-back matched or was not asked for.
    QString verifyError;
    // Status panel 1 at the end, and the journal's result without its note.
    QString status;
    // The whole file is on the controller (or in the pane) as meant.
    bool whole = false;
};

class TransferFlow {
public:
    TransferFlow(TransferView &view, TransferTarget target) : view_(view), target_(std::move(target)) {}

    TransferOutcome Download(const QString &remotePath);
    // `localFile` must be a regular file; the view is told when it is not.
    TransferOutcome Upload(const QString &localFile, const QString &remotePath);
    TransferOutcome SaveAs(const QString &remotePath, const QByteArray &text);

private:
    // What an upload and a save-as share after their blocks went out: the
    // end note, the read-back, the listing, the status and the journal line.
    // `sent` and `sha256` describe the data that went out; `expected` gives
    // the intended bytes again from the start for the read-back.
    TransferOutcome Finish(TransferJournalLine line, const nccmd::TransferResult &result, uint64_t size,
                           const QString &what, nccmd::ExpectedSource expected);
    // Empty on a match, else the text the status shows.
    QString Verify(const QString &remotePath, uint64_t size, nccmd::ExpectedSource expected);
    // The end note of a transfer that did not end whole, shown and logged;
    // the journal's result gets it after the status.
    QString WithEndNote(const QString &status, const QString &logLine, const QString &endNote);

    // The one progress and abort callback of every pass of blocks; the
    // abort test remembers that it fired, so the save-as sends no more of
    // the text in the abort block.
    void Progress(uint64_t done, uint64_t total) { view_.Progress(done, total); }
    bool Abort() { return abortSeen_ = view_.AbortRequested(); }

    TransferView &view_;
    const TransferTarget target_;
    bool abortSeen_ = false;
};

// Status panel 1 while a transfer runs, after an abort the controller took,
// and when the read-back differs.
QString TransferStatusText();
QString TransferAbortedText();
QString VerifyFailedText(const QString &remotePath, uint64_t at);
// "Download stopped at block 2 of 3: 512 of 1500 bytes arrived".
QString TransferEndNote(const QString &what, const nccmd::TransferResult &result, uint64_t total,
                        const QString &moved);
