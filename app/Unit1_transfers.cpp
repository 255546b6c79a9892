// Download into the memo, upload of a local file, and save-as of the memo.
// The block loops themselves live in the command layer; the window feeds
// them, shows progress and lets Escape abort.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTextCursor>
#include <QToolButton>
#include <QLineEdit>
#include <QLabel>
#include <algorithm>
#include <climits>
#include <cstring>

#include "Unit1.h"
#include "Unit2.h"
#include "dialogs.h"
#include "request_scope.h"
#include "escape_key.h"
#include "gbk_text.h"
#include "journal.h"
#include "result_texts.h"
#include "sha256.h"
#include "transfers.h"

namespace {

// Progress in bytes against the announced size; the window repaints and
// sees the Escape key between blocks on either link.
// An empty file still gets a range of one: a bar whose range is empty
// turns into an endless "busy" animation that never ends with the transfer.
void ShowProgress(QProgressBar *bar, uint64_t done, uint64_t total) {
    const int maximum = static_cast<int>(std::clamp<uint64_t>(total, 1, INT_MAX));
    if (bar->maximum() != maximum) bar->setRange(0, maximum);
    bar->setValue(static_cast<int>(std::min<uint64_t>(done, static_cast<uint64_t>(maximum))));
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

QString VerifyFailedText(const QString &remotePath, uint64_t at) {
    return QStringLiteral("Verify failed: %1 on the controller differs from the data sent, from byte %2 on")
        .arg(remotePath)
        .arg(at);
}

QString LocalFileName(const QString &fullName) {
    const qsizetype cut = std::max(fullName.lastIndexOf(QChar('/')), fullName.lastIndexOf(QChar('\\')));
    return fullName.mid(cut + 1);
}

}  // namespace

void TForm1::ShowTransferStatus() {
    StatusPanel1->setText(TransferStatusText());
    // Shown before the first request, not after it.
    StatusPanel1->repaint();
}

uint8_t TForm1::ReadNcFile(uint8_t deviceId, const QString &remotePath) {
    Memo1->clear();
    ShowTransferStatus();
    const QByteArray path = ToGbk(remotePath);

    // The memo refuses the user's edits while blocks are being inserted: a
    // click or a key would otherwise land inside the program text.
    const bool wasReadOnly = Memo1->isReadOnly();
    Memo1->setReadOnly(true);
    SetMemoIncomplete(false);
    QTextCursor cursor(Memo1->document());
    GbkBlockDecoder decoder;
    journal::Sha256 hash;
    uint64_t received = 0;
    auto sink = [&](const uint8_t *data, size_t length) {
        hash.Update(data, length);
        received += length;
        // A block's text ends at its first NUL byte.
        const size_t textLength = strnlen(reinterpret_cast<const char *>(data), length);
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(decoder.Decode(reinterpret_cast<const char *>(data), static_cast<qsizetype>(textLength)));
        return true;
    };
    auto progress = [this](uint64_t done, uint64_t total) {
        ShowRate(done, total);
        ShowProgress(ProgressBar1, done, total);
    };
    auto abort = [] { return EscapeHeld(); };
    const nccmd::TransferResult result = nccmd::ReadRemoteFile(deviceId, path.constData(), sink, progress, abort);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(decoder.Finish());
    ClearRate();
    Memo1->setReadOnly(wasReadOnly);
    // What arrived is the controller's text, not the user's edits.
    Memo1->document()->setModified(false);
    // The memo holds only the start of the program: marked, so it is not
    // saved back over the whole one unasked.
    if (!result.Succeeded()) SetMemoIncomplete(true, remotePath);

    if (result.code != 0) {
        ShowResultCode(result.code);
    } else {
        ProgressBar1->setValue(ProgressBar1->maximum());
        if (result.aborted) StatusPanel1->setText(TransferAbortedText());
        else ShowResultCode(0);
    }
    WriteJournal(journal::kGet, remotePath, {}, true, received, hash.HexDigest(), StatusPanel1->text());
    return result.code;
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

    Form2->Edit1->setText(CurrentNcPath + LocalFileName(localFile));
    Form2->SpeedButton1->hide();
    const int answer = AppDialogs().ExecModal(Form2);
    Form2->SpeedButton1->show();
    if (answer != TForm2::kResultOk) return false;
    const QString remotePath = Form2->Edit1->text();
    if (!CheckRemotePath(remotePath, kMaxRemotePathLength, QStringLiteral("file"))) return false;
    if (!BeginRequest()) return false;
    RequestScope scope(*this);

    ShowTransferStatus();
    QFile file(localFile);
    // Only a regular file has a size to announce; opening a named pipe would
    // wait for a writer and freeze the window.
    if (!QFileInfo(localFile).isFile() || !file.open(QIODevice::ReadOnly) || file.size() > INT32_MAX) {
        StatusPanel1->clear();
        AppDialogs().Inform(this, QStringLiteral("文件操作错误"), QStringLiteral("此文件不存在!!!!"));
        return false;
    }
    const auto size = static_cast<int32_t>(file.size());
    const QByteArray path = ToGbk(remotePath);
    journal::Sha256 hash;
    uint64_t sent = 0;
    auto source = [&](uint8_t *buffer, size_t length) {
        if (file.read(reinterpret_cast<char *>(buffer), static_cast<qint64>(length)) != static_cast<qint64>(length))
            return false;
        hash.Update(buffer, length);
        sent += length;
        return true;
    };
    auto progress = [this](uint64_t done, uint64_t total) {
        ShowRate(done, total);
        ShowProgress(ProgressBar1, done, total);
    };
    auto abort = [] { return EscapeHeld(); };
    const nccmd::TransferResult result = nccmd::WriteRemoteFile(DeviceId, path.constData(), size, source, progress, abort);
    const std::string digest = hash.HexDigest();
    auto journalLine = [&] { WriteJournal(journal::kPut, remotePath, localFile, true, sent, digest, StatusPanel1->text()); };
    if (result.code != 0) {
        ShowResultCode(result.code);
        journalLine();
        return false;
    }
    if (result.localFailure) {
        // The file changed or failed under us; the controller was told by
        // the abort block, the user by the same box as a missing file.
        StatusPanel1->clear();
        AppDialogs().Inform(this, QStringLiteral("文件操作错误"), QStringLiteral("此文件不存在!!!!"));
        WriteJournal(journal::kPut, remotePath, localFile, true, sent, digest, QStringLiteral("此文件不存在!!!!"));
        return false;
    }
    ProgressBar1->setValue(ProgressBar1->maximum());
    QString verifyError;
    if (CheckVerify->isChecked() && !result.aborted) {
        // The file is read again, as it is now: a file changed since the
        // upload shows up as a difference too.
        file.seek(0);
        verifyError = VerifyRemoteFile(
            path, [&file](char *buffer, qint64 length) { return file.read(buffer, length); }, static_cast<uint64_t>(size));
    }
    file.close();
    const uint8_t listed = ReadNcDirectory(DeviceId, ListingRequest());
    if (!verifyError.isEmpty()) StatusPanel1->setText(verifyError);
    else if (listed == 0 && result.aborted) StatusPanel1->setText(TransferAbortedText());
    else if (listed == 0) ShowResultCode(0);
    journalLine();
    return verifyError.isEmpty() && listed == 0 && !result.aborted;
}

QString TForm1::VerifyRemoteFile(const QByteArray &path, const std::function<qint64(char *, qint64)> &expected,
                                 uint64_t size) {
    const QString remotePath = FromGbk(path);
    ShowTransferStatus();
    uint64_t offset = 0;
    uint64_t difference = UINT64_MAX;
    char local[nccmd::kBlockSize];
    auto sink = [&](const uint8_t *data, size_t length) {
        const qint64 got = expected(local, static_cast<qint64>(length));
        for (size_t i = 0; i < length && difference == UINT64_MAX; ++i) {
            if (static_cast<qint64>(i) >= got || static_cast<char>(data[i]) != local[i]) difference = offset + i;
        }
        offset += length;
        return true;
    };
    auto progress = [this](uint64_t done, uint64_t total) {
        ShowRate(done, total);
        ShowProgress(ProgressBar1, done, total);
    };
    auto abort = [] { return EscapeHeld(); };
    const nccmd::TransferResult result = nccmd::ReadRemoteFile(DeviceId, path.constData(), sink, progress, abort);
    ClearRate();
    if (result.code != 0)
        return QStringLiteral("Verify failed: %1").arg(QString::fromStdString(nccmd::ResultCodeText(result.code)));
    if (result.aborted) return QStringLiteral("Verify failed: the read-back was aborted");
    if (difference == UINT64_MAX && offset != size) difference = std::min(offset, size);
    if (difference != UINT64_MAX) {
        AddLogLine(VerifyFailedText(remotePath, difference));
        return VerifyFailedText(remotePath, difference);
    }
    AddLogLine(QStringLiteral("Verified %1: %2 bytes read back match").arg(remotePath).arg(size));
    return {};
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
    Form2->Edit1->setText(CurrentNcPath + SelectedFileName);
    const int answer = AppDialogs().ExecModal(Form2);
    if (answer != TForm2::kResultOk) return;  // Cancel, or saved to a local file
    if (!IncompleteWriteConfirmed(*this, this)) return;
    const QString remotePath = Form2->Edit1->text();
    if (!CheckRemotePath(remotePath, kMaxRemotePathLength, QStringLiteral("file"))) return;
    const QString memoText = Memo1->toPlainText();
    if (const QString character = FirstNonGbkCharacter(memoText); !character.isEmpty()) {
        AppDialogs().Error(this, QStringLiteral("Error"), NonGbkRefusal(QStringLiteral("text"), character));
        return;
    }
    if (!BeginRequest()) return;
    RequestScope scope(*this);

    ShowTransferStatus();
    const QByteArray text = MemoTextToGbk(memoText);
    if (text.size() > INT32_MAX) return;
    const QByteArray path = ToGbk(remotePath);
    qsizetype offset = 0;
    bool aborting = false;
    journal::Sha256 hash;
    auto source = [&](uint8_t *buffer, size_t length) {
        // The abort block goes out as the loop's zeroed buffer: the text
        // that would have followed is not sent once the user has said stop.
        if (aborting) return true;
        if (offset + static_cast<qsizetype>(length) > text.size()) return false;
        std::memcpy(buffer, text.constData() + offset, length);
        hash.Update(buffer, length);
        offset += static_cast<qsizetype>(length);
        return true;
    };
    auto progress = [this](uint64_t done, uint64_t total) {
        ShowRate(done, total);
        ShowProgress(ProgressBar1, done, total);
    };
    auto abort = [&aborting] { return aborting = EscapeHeld(); };
    const nccmd::TransferResult result =
        nccmd::WriteRemoteFile(DeviceId, path.constData(), static_cast<int32_t>(text.size()), source, progress, abort);
    const std::string digest = hash.HexDigest();
    auto journalLine = [&] {
        WriteJournal(journal::kSaveAs, remotePath, {}, true, static_cast<uint64_t>(offset), digest, StatusPanel1->text());
    };
    if (result.code != 0) {
        ShowResultCode(result.code);
        journalLine();
        return;
    }
    ProgressBar1->setValue(ProgressBar1->maximum());
    QString verifyError;
    if (CheckVerify->isChecked() && !result.aborted) {
        qsizetype readAt = 0;
        verifyError = VerifyRemoteFile(
            path,
            [&](char *buffer, qint64 length) {
                const qint64 n = std::min<qint64>(length, text.size() - readAt);
                std::memcpy(buffer, text.constData() + readAt, static_cast<size_t>(n));
                readAt += n;
                return n;
            },
            static_cast<uint64_t>(text.size()));
    }
    const uint8_t listed = ReadNcDirectory(DeviceId, ListingRequest());
    if (!verifyError.isEmpty()) StatusPanel1->setText(verifyError);
    else if (listed == 0 && result.aborted) StatusPanel1->setText(TransferAbortedText());
    // The edits are on the controller now, unless they did not all get there.
    if (verifyError.isEmpty() && !result.aborted) Memo1->document()->setModified(false);
    journalLine();
}
