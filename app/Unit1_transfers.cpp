// The window's side of the download into the memo, the upload of a local
// file and the save-as of the memo: each handler asks the user, then hands
// the transfer to the flow (app/transfer_flow.h), which runs on a worker
// thread of its own and sees the window through TransferRun.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextCursor>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <climits>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/dialogs.h"
#include "app/escape_key.h"
#include "app/gbk_text.h"
#include "app/link_cut.h"
#include "app/transfer_run.h"
#include "nccmd/system_names.h"

namespace {

// A closing window lets an aborted transfer end on its own first, then cuts
// the link under it; the engine's time-out and retries bound the rest.
constexpr std::chrono::milliseconds kTransferStopWait{2000};
constexpr std::chrono::milliseconds kTransferCutWait{5000};

QString LocalFileName(const QString &fullName) {
    const qsizetype cut = std::max(fullName.lastIndexOf(QChar('/')), fullName.lastIndexOf(QChar('\\')));
    return fullName.mid(cut + 1);
}

}  // namespace

TransferTarget TForm1::CurrentTransferTarget() const {
    TransferTarget target;
    target.deviceId = DeviceId;
    target.verify = CheckVerify->isChecked();
    return target;
}

bool TForm1::StartTransfer(const QString &what, TransferTarget target, TransferRun::Job job,
                           TransferRun::Finished finished) {
    busy_ = true;
    SetRequestControlsEnabled(false);
    transfer_ = std::make_unique<TransferRun>(*this, what, ListingRequest(), std::move(finished));
    if (transfer_->Start(target, std::move(job))) return true;
    transfer_.reset();
    busy_ = false;
    SetRequestControlsEnabled(true);
    StatusPanel1->setText(QStringLiteral("The transfer could not start a thread"));
    return false;
}

void TForm1::TransferEnded() {
    if (!transfer_) return;
    transfer_->queue->Detach();
    // The worker's last step follows the post of this call at once.
    if (transfer_->worker.joinable()) transfer_->worker.join();
    lastTransfer_ = transfer_->outcome;
    const TransferRun::Finished finished = std::move(transfer_->finished);
    transfer_.reset();
    busy_ = false;
    SetRequestControlsEnabled(true);
    ClearRate();
    if (closePending_) {
        // The user closed the window during the transfer: it has ended and
        // been journalled, now the window goes. What would have followed
        // the transfer (the next dropped file) does not.
        closePending_ = false;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    if (finished) finished(lastTransfer_);
}

QString TForm1::TransferCloseQuestion() const {
    const uint64_t done = transfer_ ? transfer_->Moved() : 0;
    const uint64_t total = transfer_ ? transfer_->Total() : 0;
    return QStringLiteral("%1 with device %2 (%3) is running: %4 of %5 bytes moved.\n"
                          "Stop it as Esc does, and close the window?")
        .arg(transfer_ ? transfer_->what : QString(), QString::number(DeviceId), LinkAddressText())
        .arg(done)
        .arg(total);
}

bool TForm1::EndTransferForClose() {
    if (!transfer_) return true;
    transfer_->RequestAbort();
    // From here on nothing the worker does reaches the window.
    transfer_->queue->Detach();
    transfer_->Release();
    bool finished = transfer_->queue->WaitFinished(kTransferStopWait);
    if (!finished) {
        // A controller that never answers holds the request for the engine's
        // tries; a cut link ends them at once.
        SetLinkCut(true);
        finished = transfer_->queue->WaitFinished(kTransferCutWait);
    }
    if (finished) {
        transfer_->worker.join();
        SetLinkCut(false);
        transfer_.reset();
        return true;
    }
    // Not ended within the bound: the worker keeps its run (and the cut
    // link) to itself, and the window lets go of both without touching them.
    transfer_->worker.detach();
    (void)transfer_.release();
    return false;
}

void TForm1::ReadNcFile(uint8_t deviceId, const QString &remotePath) {
    TransferTarget target = CurrentTransferTarget();
    target.deviceId = deviceId;
    StartTransfer(QStringLiteral("The download of %1").arg(remotePath), target,
                  [remotePath](TransferFlow &flow) { return flow.Download(remotePath); }, {});
}

void TForm1::BitBtn4Click() {
    if (!BeginRequest()) return;
    const QString localFile = AppDialogs().OpenFileName(this, OpenDialog1.FileName, OpenDialog1.Filter);
    if (localFile.isEmpty()) return;
    UploadLocalFile(localFile, {});
}

bool TForm1::UploadLocalFile(const QString &localFile, TransferRun::Finished finished) {
    // Like a file dialog's own file name: the next upload starts where the
    // user found this file.
    OpenDialog1.FileName = localFile;
    RememberLocalFile(localFile);

    Form2->Propose(CurrentNcPath + LocalFileName(localFile), false);
    if (AppDialogs().ExecModal(Form2) != TForm2::kResultOk) return false;
    const QString remotePath = Form2->ChosenPath();
    if (!CheckRemotePath(remotePath, kMaxRemotePathLength, QStringLiteral("file"))) return false;
    if (RefusedSystemName(remotePath)) return false;
    if (!BeginRequest()) return false;
    return StartTransfer(QStringLiteral("The upload of %1 to %2").arg(localFile, remotePath), CurrentTransferTarget(),
                         [localFile, remotePath](TransferFlow &flow) { return flow.Upload(localFile, remotePath); },
                         std::move(finished));
}

void TForm1::BitBtn10Click() {
    if (!BeginRequest()) return;
    if (Memo1->document()->isEmpty()) {
        AppDialogs().Error(this, QStringLiteral("Error"), QStringLiteral("下载文件不能为空!!!"));
        return;
    }
    if (SelectedFileName.isEmpty()) {
        AppDialogs().Error(this, QStringLiteral("Error"), QStringLiteral("文件名不能为空!!!"));
        return;
    }
    Form2->Propose(CurrentNcPath + SelectedFileName, true);
    // Cancel, or saved to a local file: nothing goes to the controller.
    if (AppDialogs().ExecModal(Form2) != TForm2::kResultOk) return;
    SaveMemoToController(Form2->ChosenPath());
}

bool TForm1::RefusedSystemName(const QString &remotePath) {
    const QByteArray path = ToGbk(remotePath);
    const std::string_view name(path.constData(), static_cast<size_t>(path.size()));
    if (!nccmd::IsSystemFile(name) && !nccmd::IsSystemDir(name)) return false;
    AppDialogs().Error(this, QStringLiteral("Error"),
                       QStringLiteral("%1 carries a name of the controller's own system files and folders "
                                      "(QVTROM.BIN, QVT, PRG): it is never written from here.")
                           .arg(remotePath));
    return true;
}

bool TForm1::ControllerWriteAllowed(const QString &remotePath, qsizetype bytes) {
    if (RefusedSystemName(remotePath)) return false;
    if (!IncompleteWriteConfirmed(*this, this)) return false;
    // A file the listing shows in that folder is the controller's program
    // of that name: writing over it is asked, with what is there and what
    // would take its place. The controller may not tell case apart.
    const qsizetype cut = remotePath.lastIndexOf(QChar('\\'));
    if (remotePath.left(cut + 1) != CurrentNcPath) return true;
    const QString name = remotePath.mid(cut + 1);
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = ListView1->topLevelItem(i);
        if (ItemType(item) != nccmd::kAttributeFile || item->text(kColumnFile).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        const QString question = QStringLiteral("Device %1 (%2) already holds %3 (%4 bytes).\n"
                                                "Write %5 bytes of this text over it?")
                                     .arg(QString::number(DeviceId), LinkAddressText(),
                                          CurrentNcPath + item->text(kColumnFile))
                                     .arg(ItemSize(item))
                                     .arg(bytes);
        return AppDialogs().Ask(this, QStringLiteral("Overwrite?"), question);
    }
    return true;
}

void TForm1::SaveMemoToController(const QString &remotePath) {
    if (!CheckRemotePath(remotePath, kMaxRemotePathLength, QStringLiteral("file"))) return;
    const QString memoText = Memo1->toPlainText();
    if (const QString character = FirstNonGbkCharacter(memoText); !character.isEmpty()) {
        AppDialogs().Error(this, QStringLiteral("Error"), NonGbkRefusal(QStringLiteral("text"), character));
        return;
    }
    const QByteArray text = MemoTextToGbk(memoText);
    if (text.size() > INT32_MAX) return;
    if (!ControllerWriteAllowed(remotePath, text.size())) return;
    if (!BeginRequest()) return;  // a request may have started while a box was open
    StartTransfer(QStringLiteral("The save-as of %1").arg(remotePath), CurrentTransferTarget(),
                  [remotePath, text](TransferFlow &flow) { return flow.SaveAs(remotePath, text); },
                  [this, remotePath](const TransferOutcome &outcome) {
                      // The edits are on the controller now, unless they did
                      // not all get there; Ctrl+S writes them there next time.
                      const nccmd::TransferResult &result = outcome.transfer;
                      if (result.code != 0 || result.aborted || result.localFailure || !outcome.verifyError.isEmpty())
                          return;
                      Memo1->document()->setModified(false);
                      MemoSource source = memoSource_;
                      source.kind = MemoSource::kRemote;
                      source.deviceId = DeviceId;
                      source.path = remotePath;
                      SetMemoSource(source);
                  });
}
