#include "app/transfer_run.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextCursor>
#include <algorithm>
#include <climits>
#include <system_error>

#include "app/dialogs.h"
#include "app/escape_key.h"
#include "app/gbk_text.h"
#include "app/listing_view.h"

TForm1::TransferRun::TransferRun(TForm1 &form, QString what, QString listingRequest, Finished finished)
    : queue(WindowQueue::Create(&form)),
      what(std::move(what)),
      finished(std::move(finished)),
      form_(form),
      listingRequest_(std::move(listingRequest)) {
    queue->SetFlush([this] { Flush(); });
}

TForm1::TransferRun::~TransferRun() {
    queue->Detach();
    Release();
}

void TForm1::TransferRun::Release() {
    {
        const std::lock_guard lock(textMutex_);
        released_ = true;
    }
    textTaken_.notify_all();
}

bool TForm1::TransferRun::Start(TransferTarget target, Job job) {
    deviceId_ = target.deviceId;
    try {
        worker = std::thread([this, target, job = std::move(job), keep = queue] {
            TransferFlow flow(*this, target);
            TransferOutcome result = job(flow);
            keep->Post([this, result = std::move(result)] {
                outcome = result;
                form_.TransferEnded();
            });
            keep->MarkFinished();
        });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

void TForm1::TransferRun::TransferStarting() {
    queue->Post([this] {
        form_.StatusPanel1->setText(TransferStatusText());
        // The bar belongs to this transfer from now on: a read the
        // controller refuses at once must not leave the last listing's full
        // bar standing as if it had arrived.
        form_.ProgressBar1->setValue(0);
    });
}

void TForm1::TransferRun::Progress(uint64_t done, uint64_t total) {
    queue->Post(
        [this, done, total] {
            // Only the latest position is drawn; a pass that starts again
            // from 0 (the read-back) starts the rate again.
            progressPending_ = true;
            rateRestart_ = rateRestart_ || done == 0;
            done_ = done;
            total_ = total;
        },
        true);
}

void TForm1::TransferRun::ProgressFull() {
    queue->Post([this] { form_.ProgressBar1->setValue(form_.ProgressBar1->maximum()); });
}

void TForm1::TransferRun::ProgressEnded() {
    queue->Post([this] { form_.ClearRate(); });
}

void TForm1::TransferRun::ShowStatus(const QString &text) {
    queue->Post([this, text] { form_.StatusPanel1->setText(text); });
}

void TForm1::TransferRun::ShowResultCode(uint8_t code) {
    queue->Post([this, code] { form_.ShowResultCode(code); });
}

void TForm1::TransferRun::ShowEndNote(const QString &note) {
    queue->Post([this, note] { form_.ShowEndNote(note); });
}

void TForm1::TransferRun::AddLogLine(const QString &line) {
    queue->Post([this, line] { form_.AddLogLine(line); });
}

void TForm1::TransferRun::ShowFileError() {
    queue->Post([this] {
        AppDialogs().Inform(&form_, QStringLiteral("文件操作错误"), QStringLiteral("此文件不存在!!!!"));
    });
}

void TForm1::TransferRun::DownloadStarting(const QString &remotePath) {
    queue->Post([this, remotePath] {
        form_.Memo1->clear();
        // The memo refuses the user's edits while blocks are being inserted:
        // a click or a key would otherwise land inside the program text.
        memoWasReadOnly_ = form_.Memo1->isReadOnly();
        form_.Memo1->setReadOnly(true);
        MemoSource source;
        source.kind = MemoSource::kRemote;
        source.deviceId = deviceId_;
        source.path = remotePath;
        form_.SetMemoSource(source);
    });
}

void TForm1::TransferRun::DownloadText(const QString &text) {
    {
        std::unique_lock lock(textMutex_);
        textTaken_.wait(lock, [this] { return released_ || textPending_ < kTextAhead; });
        textPending_ += text.size();
    }
    queue->Post([this, text] { memoBatch_ += text; }, true);
}

void TForm1::TransferRun::DownloadEnded(const QString &remotePath, bool whole) {
    queue->Post([this, remotePath, whole] {
        form_.Memo1->setReadOnly(memoWasReadOnly_);
        // What arrived is the controller's text, not the user's edits.
        form_.Memo1->document()->setModified(false);
        // The memo holds only the start of the program: marked, so it is not
        // saved back over the whole one unasked.
        if (whole) return;
        MemoSource source = form_.memoSource_;
        source.partNote = QStringLiteral("Incomplete: the download of %1 did not finish; this text is only the "
                                         "start of the program.")
                              .arg(remotePath);
        form_.SetMemoSource(source);
    });
}

uint8_t TForm1::TransferRun::RefreshListing() {
    // The request is this thread's; the window only shows its answer. The
    // bar stays where the transfer left it.
    listing_.resize(kListingBufferSize);
    uint32_t shown = 0;
    const uint8_t code = FetchListing(deviceId_, ToGbk(listingRequest_), listing_.data(), listing_.size(), &shown);
    if (code != 0) {
        ShowResultCode(code);
        return code;
    }
    const QByteArray bytes(reinterpret_cast<const char *>(listing_.data()), static_cast<qsizetype>(shown));
    queue->Post([this, bytes] {
        ShowListing(form_.ListView1, form_.ImageList1, reinterpret_cast<const uint8_t *>(bytes.constData()),
                    static_cast<uint32_t>(bytes.size()));
        form_.ShowResultCode(0);
    });
    return 0;
}

void TForm1::TransferRun::Journal(const TransferJournalLine &line) {
    queue->Post([this, line] {
        form_.WriteJournal(line.operation, line.remotePath, line.localFile, true, line.bytes, line.sha256,
                           line.result);
    });
}

bool TForm1::TransferRun::AbortRequested() { return abort_.load() || EscapeHeld(); }

void TForm1::TransferRun::Flush() {
    // Blocks arrive faster than a memo redraws: the window takes all that
    // came since its last turn in one insertion.
    if (!memoBatch_.isEmpty()) {
        QTextCursor cursor(form_.Memo1->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(memoBatch_);
        {
            const std::lock_guard lock(textMutex_);
            textPending_ -= memoBatch_.size();
        }
        textTaken_.notify_all();
        memoBatch_.clear();
    }
    if (!progressPending_) return;
    progressPending_ = false;
    // An empty file still gets a range of one: a bar whose range is empty
    // turns into an endless "busy" animation that never ends with the
    // transfer.
    QProgressBar *bar = form_.ProgressBar1;
    const int maximum = static_cast<int>(std::clamp<uint64_t>(total_, 1, INT_MAX));
    if (bar->maximum() != maximum || bar->minimum() != 0) bar->setRange(0, maximum);
    bar->setValue(static_cast<int>(std::min<uint64_t>(done_, static_cast<uint64_t>(maximum))));
    if (rateRestart_) form_.ShowRate(0, total_);
    rateRestart_ = false;
    form_.ShowRate(done_, total_);
}
