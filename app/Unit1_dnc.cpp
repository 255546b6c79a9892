// The DNC run from the window's side: Start, Restart from a line, and Stop,
// the worker's effects on the controls, and the run's end, also when the
// window closes under it.
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <system_error>

#include "app/Unit1.h"
#include "app/dialogs.h"
#include "app/dnc_run.h"
#include "journal/journal.h"
#include "app/link_cut.h"
#include "app/restart_dialog.h"
#include "nccmd/result_texts.h"
#include "journal/sha256.h"

namespace {

// Past this many characters the memo is emptied before the next block, which
// bounds the memory a long program's display takes.
constexpr qsizetype kMemoLimit = 1048576;

// A closing window first lets the stop take its course (the abort block
// reaches the controller), then cuts the link under a run that still goes
// on; the engine's time-out and retries bound the rest (6 x 600 ms at most
// on the serial link).
constexpr std::chrono::milliseconds kStopWait{2000};
constexpr std::chrono::milliseconds kCutWait{5000};

}  // namespace

QString DncRunningRefusalText() {
    return QStringLiteral("Busy: a DNC run is streaming; stop it (停止DNC加工) before anything else");
}

DncRun::DncRun(TForm1 &form) : queue(WindowQueue::Create(&form)), form_(form) {
    queue->SetFlush([this] { Flush(); });
}

DncRun::~DncRun() { queue->Detach(); }

bool DncRun::Start(uint8_t address, std::shared_ptr<const DncRestartJob> job) {
    restart = std::move(job);
    try {
        worker = std::thread([this, address, keep = queue, job = restart] {
            DncWorker(*this, address, job.get());
            keep->MarkFinished();
        });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

QString DncRun::ChooseProgram() {
    const std::optional<QString> chosen = queue->Ask([this] {
        const QString file = AppDialogs().OpenFileName(&form_, form_.OpenDialog1.FileName, form_.OpenDialog1.Filter);
        if (!file.isEmpty()) {
            form_.OpenDialog1.FileName = file;  // shared with the upload
            form_.RememberLocalFile(file);
            programChosen = true;
            chosenProgram = file;
            MemoSource source = form_.Source();
            source.path = file;
            form_.SetMemoSource(source);
        }
        return file;
    });
    return chosen.value_or(QString());
}

void DncRun::SetStatus(const QString &text) {
    queue->Post([this, text] { form_.StatusPanel1->setText(text); });
}

void DncRun::ShowResultCode(uint8_t code) {
    queue->Post([this, code] {
        // A run whose file dialog was cancelled asked the controller nothing.
        if (programChosen) form_.ShowResultCode(code);
        else form_.StatusPanel1->setText(QString::fromUtf8(nccmd::ResultCodeText(code)));
    });
}

void DncRun::ShowFileError() {
    queue->Post([this] {
        form_.StatusPanel1->clear();
        AppDialogs().Inform(&form_, QStringLiteral("文件操作错误"), QStringLiteral("此文件不存在!!!!"));
    });
}

void DncRun::SetProgress(uint64_t done, uint64_t total) {
    queue->Post(
        [this, done, total] {
            // Only the latest position is drawn.
            progressPending_ = true;
            done_ = done;
            total_ = total;
        },
        true);
}

void DncRun::SetProgressFull() {
    queue->Post([this] { form_.ProgressBar1->setValue(form_.ProgressBar1->maximum()); });
}

void DncRun::ShowBlock(const uint8_t *data, size_t length) {
    const QByteArray bytes(reinterpret_cast<const char *>(data),
                           static_cast<qsizetype>(strnlen(reinterpret_cast<const char *>(data), length)));
    queue->Post([this, bytes] { AddBlock(bytes); }, true);
}

void DncRun::ProgramStreamed(const QString &path, uint64_t bytes, const std::string &sha256) {
    queue->Post([this, path, bytes, sha256] {
        streamed = true;
        programPath = path;
        programBytes = bytes;
        programSha256 = sha256;
    });
}

void DncRun::RunStopped(const QString &note, uint64_t programByte) {
    queue->Post([this, note, programByte] {
        stopNote = note;
        stoppedAt = programByte;
        form_.ShowEndNote(QStringLiteral("DNC run %1").arg(note));
    });
}

void DncRun::RunEnded() {
    queue->Post([this] { form_.DncEnded(); });
}

void DncRun::AddBlock(const QByteArray &bytes) {
    // The rule applies block by block, as if each block were inserted on
    // its own: the text still waiting counts as in the memo.
    if (memoChars_ + memoBatch_.size() > kMemoLimit) {
        form_.Memo1->clear();
        memoChars_ = 0;
        memoBatch_.clear();
    }
    memoBatch_ += decoder_.Decode(bytes.constData(), bytes.size());
}

void DncRun::FinishMemo() {
    memoBatch_ += decoder_.Finish();
    Flush();
}

void DncRun::Flush() {
    // Blocks arrive faster than a memo redraws: the window takes all that
    // came since its last turn in one insertion.
    if (!memoBatch_.isEmpty()) {
        QTextCursor cursor(form_.Memo1->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(memoBatch_);
        memoChars_ += memoBatch_.size();
        memoBatch_.clear();
        // The streamed program is not the user's edit: no modified mark.
        form_.Memo1->document()->setModified(false);
    }
    if (progressPending_) {
        progressPending_ = false;
        // An empty program still gets a range of one, so its full bar is not
        // the endless animation of an empty range.
        const int maximum = static_cast<int>(std::clamp<uint64_t>(total_, 1, INT_MAX));
        if (form_.ProgressBar1->maximum() != maximum || form_.ProgressBar1->minimum() != 0)
            form_.ProgressBar1->setRange(0, maximum);
        form_.ProgressBar1->setValue(static_cast<int>(std::min<uint64_t>(done_, static_cast<uint64_t>(maximum))));
        form_.ShowRate(done_, total_);
        // Every block taken is an answer from the controller.
        if (done_ > 0) form_.NoteResult(0);
    }
}

void TForm1::BitBtn11Click() {
    // Never a second worker beside the first, also while a stopped run is
    // still ending.
    if (dnc_) {
        StatusPanel1->setText(DncRunningRefusalText());
        return;
    }
    if (!BeginRequest()) return;
    // The run shows its program in the memo, in place of what it held.
    if (!ConfirmDiscardMemo()) return;
    if (!BeginRequest()) return;
    StartDncRun({});
}

void TForm1::RestartDncClick() {
    if (dnc_) {
        StatusPanel1->setText(DncRunningRefusalText());
        return;
    }
    if (!BeginRequest()) return;
    if (!ConfirmDiscardMemo()) return;
    // The program is chosen as Start chooses it, from the same file dialog.
    const QString path = AppDialogs().OpenFileName(this, OpenDialog1.FileName, OpenDialog1.Filter);
    if (path.isEmpty()) return;
    OpenDialog1.FileName = path;
    RememberLocalFile(path);
    std::optional<std::string> program = ReadRestartProgram(path);
    if (!program) return;
    RestartDialogInput input;
    input.path = path;
    input.program = *program;
    const QFileInfo info(path);
    if (lastDncStop_.path == path && lastDncStop_.size == info.size() && lastDncStop_.modified == info.lastModified())
        input.stoppedAt = static_cast<size_t>(lastDncStop_.programByte);
    RestartDialog dialog(std::move(input), this);
    if (AppDialogs().ExecModal(&dialog) != QDialog::Accepted || !dialog.Result().accepted) return;
    auto job = std::make_shared<DncRestartJob>();
    job->path = path;
    job->program = std::move(*program);
    job->plan = dialog.Result().plan;
    const std::string_view preamble = job->plan.PreambleText();
    job->preambleSha256 = journal::Sha256Hex(preamble.data(), preamble.size());
    if (!BeginRequest()) return;
    StartDncRun(std::move(job));
}

std::optional<std::string> TForm1::ReadRestartProgram(const QString &path) {
    QFile file(path);
    // As Start: only a regular file the controller can be told the size of.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) || file.size() > INT32_MAX) {
        AppDialogs().Inform(this, QStringLiteral("文件操作错误"), QStringLiteral("此文件不存在!!!!"));
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size()) {
        AppDialogs().Inform(this, QStringLiteral("文件操作错误"), QStringLiteral("此文件不存在!!!!"));
        return std::nullopt;
    }
    std::string program = bytes.toStdString();
    if (const std::string why = nccmd::NotTextReason(program); !why.empty()) {
        AppDialogs().Error(this, QStringLiteral("Restart DNC from..."),
                           QStringLiteral("%1 cannot be restarted: it is not a text program (%2). Nothing was sent.")
                               .arg(path, QString::fromStdString(why)));
        return std::nullopt;
    }
    return program;
}

void TForm1::SetDncStartEnabled(bool enabled) {
    BitBtn11->setEnabled(enabled);
    RestartDncButton->setEnabled(enabled);
}

void TForm1::StartDncRun(std::shared_ptr<const DncRestartJob> restart) {
    SetDncStartEnabled(false);
    Memo1->clear();
    // The memo shows the program as streamed: not a file to save back.
    MemoSource view;
    view.kind = MemoSource::kDncView;
    view.deviceId = DeviceId;
    view.partNote = QStringLiteral("DNC view: the program as it was streamed to device %1 (a leading % shown as "
                                   "CR; past 1 MiB only the end is kept). It is not a whole program file.")
                        .arg(DeviceId);
    if (restart) view.path = restart->path;
    SetMemoSource(view);
    DncStopRequested.store(0);
    auto run = std::make_unique<DncRun>(*this);
    // A restart's program was chosen before its dialog.
    if (restart) {
        run->programChosen = true;
        run->chosenProgram = restart->path;
    }
    // The memo shows the program as it streams; the user's keys would land
    // inside it.
    run->memoWasReadOnly = Memo1->isReadOnly();
    Memo1->setReadOnly(true);
    // The device, port and link stay as the run found them.
    SetRequestControlsEnabled(false);
    dnc_ = std::move(run);
    if (!dnc_->Start(DeviceId, std::move(restart))) {
        StatusPanel1->setText(QStringLiteral("The DNC run could not start a thread"));
        FinishDncRun();
    }
}

void TForm1::BitBtn12Click() {
    DncStopRequested.store(1);
    // With a run going, Start comes back when its worker has ended.
    if (!dnc_) SetDncStartEnabled(true);
}

void TForm1::DncEnded() {
    if (!dnc_) return;
    dnc_->FinishMemo();
    dnc_->queue->Detach();
    // The worker's last step follows the post of this call at once.
    if (dnc_->worker.joinable()) dnc_->worker.join();
    // Every action the worker posted before this one has run: panel 1 holds
    // the run's final text.
    QString result = StatusPanel1->text().isEmpty() ? QStringLiteral("此文件不存在!!!!") : StatusPanel1->text();
    if (!dnc_->stopNote.isEmpty()) {
        result += QStringLiteral("; ") + dnc_->stopNote;
        AddLogLine(QStringLiteral("DNC run of %1 to device %2 (%3) %4: %5")
                       .arg(dnc_->programPath, QString::number(DeviceId), LinkAddressText(), dnc_->stopNote,
                            StatusPanel1->text()));
    }
    if (dnc_->streamed) {
        // A restart is journalled as dncctl journals one: the stream's bytes
        // and hash, and where it restarted with what preamble.
        if (dnc_->restart) {
            result += QStringLiteral(" (restart from line %1, preamble sha256 %2)")
                          .arg(dnc_->restart->plan.line)
                          .arg(QString::fromStdString(dnc_->restart->preambleSha256));
        }
        WriteJournal(journal::kDnc, {}, dnc_->programPath, true, dnc_->programBytes, dnc_->programSha256, result);
        // The restart dialog offers to go on where this run stopped, while
        // the file stays as it was.
        lastDncStop_ = {};
        if (!dnc_->stopNote.isEmpty()) {
            const QFileInfo info(dnc_->programPath);
            lastDncStop_ = {dnc_->programPath, dnc_->stoppedAt, info.size(), info.lastModified()};
        }
    }
    const bool chosen = dnc_->programChosen;
    FinishDncRun();
    // A cancelled file dialog leaves an empty memo that shows nothing.
    if (!chosen) SetMemoSource({});
    if (dncClosing_) {
        // The user closed the window during the run: it has ended and been
        // journalled, now the window goes.
        dncClosing_ = false;
        SetLinkCut(false);
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

QString TForm1::DncCloseQuestion() const {
    const uint64_t done = dnc_ ? dnc_->Done() : 0;
    const uint64_t total = dnc_ ? dnc_->Total() : 0;
    const uint64_t blocks = (total + 511) / 512;
    return QStringLiteral("A DNC run is streaming %1 to device %2 (%3): block %4 of %5, %6 of %7 bytes taken.\n"
                          "Stop the run as 停止DNC加工 does, and close the window?")
        .arg(dnc_ ? dnc_->chosenProgram : QString(), QString::number(DeviceId), LinkAddressText())
        .arg(std::min<uint64_t>(done / 512 + 1, std::max<uint64_t>(blocks, 1)))
        .arg(blocks)
        .arg(done)
        .arg(total);
}

void TForm1::FinishDncRun() {
    const bool wasReadOnly = dnc_->memoWasReadOnly;
    dnc_.reset();
    Memo1->setReadOnly(wasReadOnly);
    SetRequestControlsEnabled(true);
    SetDncStartEnabled(true);
    ClearRate();
    // The streamed program is the file's text, not the user's edits.
    Memo1->document()->setModified(false);
}

bool TForm1::EndDncRunForClose() {
    if (!dnc_) return true;
    DncStopRequested.store(1);
    // From here on nothing the worker does reaches the window, and a file
    // dialog it still waits for counts as cancelled.
    dnc_->queue->Detach();
    bool finished = dnc_->queue->WaitFinished(kStopWait);
    if (!finished) {
        SetLinkCut(true);
        finished = dnc_->queue->WaitFinished(kCutWait);
    }
    if (finished) {
        dnc_->worker.join();
        SetLinkCut(false);
        FinishDncRun();
        return true;
    }
    // Not ended within the bound: the worker keeps its run (and the cut
    // link) to itself, and the window lets go of both without touching them.
    dnc_->worker.detach();
    const bool wasReadOnly = dnc_->memoWasReadOnly;
    (void)dnc_.release();
    Memo1->setReadOnly(wasReadOnly);
    SetRequestControlsEnabled(true);
    SetDncStartEnabled(true);
    ClearRate();
    return false;
}
