// The window's side of the download into the memo, the upload of a local
// file and the save-as of the memo: each handler asks the user, then hands
// the transfer to the flow (app/transfer_flow.h), which sees the window
// through TransferWindow.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextCursor>
#include <QTreeWidget>
#include <algorithm>
#include <climits>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/dialogs.h"
#include "app/escape_key.h"
#include "app/gbk_text.h"
#include "app/request_scope.h"
#include "nccmd/system_names.h"

namespace {

QString LocalFileName(const QString &fullName) {
    const qsizetype cut = std::max(fullName.lastIndexOf(QChar('/')), fullName.lastIndexOf(QChar('\\')));
    return fullName.mid(cut + 1);
}

}  // namespace

// The window as the transfer flow sees it: the status panels, the progress
// bar, the memo and the journal. Escape aborts.
class TForm1::TransferWindow final : public TransferView {
public:
    explicit TransferWindow(TForm1 &form) : form_(form) {}

    void TransferStarting() override { form_.ShowTransferStatus(); }

    void Progress(uint64_t done, uint64_t total) override {
        form_.ShowRate(done, total);
        // An empty file still gets a range of one: a bar whose range is
        // empty turns into an endless "busy" animation that never ends with
        // the transfer.
        QProgressBar *bar = form_.ProgressBar1;
        const int maximum = static_cast<int>(std::clamp<uint64_t>(total, 1, INT_MAX));
        if (bar->maximum() != maximum) bar->setRange(0, maximum);
        bar->setValue(static_cast<int>(std::min<uint64_t>(done, static_cast<uint64_t>(maximum))));
        // The window repaints and sees the Escape key between blocks on
        // either link.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

    void ProgressFull() override { form_.ProgressBar1->setValue(form_.ProgressBar1->maximum()); }
    void ProgressEnded() override { form_.ClearRate(); }
    void ShowStatus(const QString &text) override { form_.StatusPanel1->setText(text); }
    void ShowResultCode(uint8_t code) override { form_.ShowResultCode(code); }
    void ShowEndNote(const QString &note) override { form_.ShowEndNote(note); }
    void AddLogLine(const QString &line) override { form_.AddLogLine(line); }

    void ShowFileError() override {
        AppDialogs().Inform(&form_, QStringLiteral("文件操作错误"), QStringLiteral("此文件不存在!!!!"));
    }

    void DownloadStarting(const QString &remotePath) override {
        form_.Memo1->clear();
        // The memo refuses the user's edits while blocks are being inserted:
        // a click or a key would otherwise land inside the program text.
        memoWasReadOnly_ = form_.Memo1->isReadOnly();
        form_.Memo1->setReadOnly(true);
        MemoSource source;
        source.kind = MemoSource::kRemote;
        source.deviceId = form_.DeviceId;
        source.path = remotePath;
        form_.SetMemoSource(source);
    }

    void DownloadText(const QString &text) override {
        QTextCursor cursor(form_.Memo1->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text);
    }

    void DownloadEnded(const QString &remotePath, bool whole) override {
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
    }

    uint8_t RefreshListing() override {
        // The bar stays where the transfer left it.
        const int reached = form_.ProgressBar1->value();
        const uint8_t code = form_.ReadNcDirectory(form_.DeviceId, form_.ListingRequest());
        form_.ProgressBar1->setValue(reached);
        return code;
    }

    void Journal(const TransferJournalLine &line) override {
        form_.WriteJournal(line.operation, line.remotePath, line.localFile, true, line.bytes, line.sha256,
                           line.result);
    }

    bool AbortRequested() override { return EscapeHeld(); }

private:
    TForm1 &form_;
    bool memoWasReadOnly_ = false;
};

TransferTarget TForm1::CurrentTransferTarget() const {
    TransferTarget target;
    target.deviceId = DeviceId;
    target.verify = CheckVerify->isChecked();
    return target;
}

void TForm1::ShowTransferStatus() {
    StatusPanel1->setText(TransferStatusText());
    // Shown before the first request, not after it.
    StatusPanel1->repaint();
}

uint8_t TForm1::ReadNcFile(uint8_t deviceId, const QString &remotePath) {
    TransferWindow view(*this);
    TransferTarget target = CurrentTransferTarget();
    target.deviceId = deviceId;
    return TransferFlow(view, target).Download(remotePath).transfer.code;
}

void TForm1::BitBtn4Click() {
    if (!BeginRequest()) return;
    const QString localFile = AppDialogs().OpenFileName(this, OpenDialog1.FileName, OpenDialog1.Filter);
    if (localFile.isEmpty()) return;
    UploadLocalFile(localFile);
}

bool TForm1::UploadLocalFile(const QString &localFile) {
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
    RequestScope scope(*this);
    TransferWindow view(*this);
    return TransferFlow(view, CurrentTransferTarget()).Upload(localFile, remotePath).whole;
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
    RequestScope scope(*this);
    TransferWindow view(*this);
    const TransferOutcome outcome = TransferFlow(view, CurrentTransferTarget()).SaveAs(remotePath, text);
    // The edits are on the controller now, unless they did not all get
    // there; Ctrl+S writes them there next time.
    const nccmd::TransferResult &result = outcome.transfer;
    if (result.code != 0 || result.aborted || result.localFailure || !outcome.verifyError.isEmpty()) return;
    Memo1->document()->setModified(false);
    MemoSource source = memoSource_;
    source.kind = MemoSource::kRemote;
    source.deviceId = DeviceId;
    source.path = remotePath;
    SetMemoSource(source);
}
