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
#include <QLocale>
#include <QTreeWidget>
#include <algorithm>
#include <climits>
#include <cstring>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/dialogs.h"
#include "app/request_scope.h"
#include "app/escape_key.h"
#include "app/gbk_text.h"
#include "journal/journal.h"
#include "nccmd/result_texts.h"
#include "journal/sha256.h"
#include "nccmd/system_names.h"
#include "nccmd/compare_remote.h"
#include "nccmd/transfers.h"

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

// Panel 2's note of a transfer that ended before its end: "Download
// stopped at block 2 of 3: 512 of 1500 bytes arrived".
QString TransferEndNote(const QString &what, const nccmd::TransferResult &result, uint64_t total,
                        const QString &moved) {
    const uint64_t blocks = (total + nccmd::kBlockSize - 1) / nccmd::kBlockSize;
    const uint64_t block = std::min<uint64_t>(result.bytesDone / nccmd::kBlockSize + 1, std::max<uint64_t>(blocks, 1));
    return QStringLiteral("%1 %2 at block %3 of %4: %5 of %6 bytes %7")
        .arg(what, result.code != 0 || result.localFailure ? QStringLiteral("failed") : QStringLiteral("stopped"))
        .arg(block)
        .arg(blocks)
        .arg(result.bytesDone)
        .arg(total)
        .arg(moved);
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
    MemoSource source;
    source.kind = MemoSource::kRemote;
    source.deviceId = deviceId;
    source.path = remotePath;
    SetMemoSource(source);
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
    bool announced = false;
    uint64_t size = 0;
    auto progress = [&](uint64_t done, uint64_t total) {
        announced = true;
        size = total;
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
    if (!result.Succeeded()) {
        source.partNote = QStringLiteral("Incomplete: the download of %1 did not finish; this text is only the "
                                         "start of the program.")
                              .arg(remotePath);
        SetMemoSource(source);
    }

    // A download that ended early leaves the bar where it got to.
    if (result.code != 0) ShowResultCode(result.code);
    else if (result.aborted) StatusPanel1->setText(TransferAbortedText());
    else {
        ProgressBar1->setValue(ProgressBar1->maximum());
        ShowResultCode(0);
    }
    QString outcome = StatusPanel1->text();
    if (announced && !result.Succeeded()) {
        const QString note = TransferEndNote(QStringLiteral("Download"), result, size, QStringLiteral("arrived"));
        ShowEndNote(note);
        AddLogLine(QStringLiteral("%1 from device %2: %3").arg(remotePath).arg(deviceId).arg(note));
        outcome += QStringLiteral("; ") + note;
    }
    WriteJournal(journal::kGet, remotePath, {}, true, received, hash.HexDigest(), outcome);
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
    if (RefusedSystemName(remotePath)) return false;
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
    QString endNote;
    if (!result.Succeeded())
        endNote = TransferEndNote(QStringLiteral("Upload"), result, static_cast<uint64_t>(size), QStringLiteral("sent"));
    auto journalLine = [&] {
        WriteJournal(journal::kPut, remotePath, localFile, true, sent, digest, OutcomeWithEndNote(remotePath, endNote));
    };
    if (result.code != 0) {
        ShowResultCode(result.code);
        journalLine();
        return false;
    }
    if (result.localFailure) {
        // The file changed or failed under us; the controller was told by
        // the abort block, the user by the same box as a missing file.
        StatusPanel1->setText(QStringLiteral("此文件不存在!!!!"));
        AppDialogs().Inform(this, QStringLiteral("文件操作错误"), QStringLiteral("此文件不存在!!!!"));
        journalLine();
        StatusPanel1->clear();
        return false;
    }
    // An aborted upload leaves the bar where it got to; the listing read
    // afterwards does not fill it.
    if (!result.aborted) ProgressBar1->setValue(ProgressBar1->maximum());
    const int reached = ProgressBar1->value();
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
    ProgressBar1->setValue(reached);
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
    auto progress = [this](uint64_t done, uint64_t total) {
        ShowRate(done, total);
        ShowProgress(ProgressBar1, done, total);
    };
    auto abort = [] { return EscapeHeld(); };
    auto source = [&expected](uint8_t *buffer, size_t length) -> int64_t {
        return std::max<qint64>(0, expected(reinterpret_cast<char *>(buffer), static_cast<qint64>(length)));
    };
    const nccmd::Comparison comparison =
        nccmd::CompareRemoteFile(DeviceId, path.constData(), size, source, false, progress, abort);
    const nccmd::TransferResult &result = comparison.read;
    const uint64_t difference = comparison.firstDifference;
    ClearRate();
    if (result.code != 0)
        return QStringLiteral("Verify failed: %1").arg(QString::fromStdString(nccmd::ResultCodeText(result.code)));
    if (result.aborted) return QStringLiteral("Verify failed: the read-back was aborted");
    if (difference != nccmd::kNoDifference) {
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
    SaveMemoToController(Form2->Edit1->text());
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
    WriteMemoToController(remotePath, text);
}

void TForm1::WriteMemoToController(const QString &remotePath, const QByteArray &text) {
    RequestScope scope(*this);

    ShowTransferStatus();
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
    QString endNote;
    if (!result.Succeeded())
        endNote = TransferEndNote(QStringLiteral("Save As"), result, static_cast<uint64_t>(text.size()),
                                  QStringLiteral("sent"));
    auto journalLine = [&] {
        WriteJournal(journal::kSaveAs, remotePath, {}, true, static_cast<uint64_t>(offset), digest,
                     OutcomeWithEndNote(remotePath, endNote));
    };
    if (result.code != 0) {
        ShowResultCode(result.code);
        journalLine();
        return;
    }
    if (!result.aborted) ProgressBar1->setValue(ProgressBar1->maximum());
    const int reached = ProgressBar1->value();
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
    ProgressBar1->setValue(reached);
    if (!verifyError.isEmpty()) StatusPanel1->setText(verifyError);
    else if (listed == 0 && result.aborted) StatusPanel1->setText(TransferAbortedText());
    // The edits are on the controller now, unless they did not all get
    // there; Ctrl+S writes them there next time.
    if (verifyError.isEmpty() && !result.aborted) {
        Memo1->document()->setModified(false);
        MemoSource source = memoSource_;
        source.kind = MemoSource::kRemote;
        source.deviceId = DeviceId;
        source.path = remotePath;
        SetMemoSource(source);
    }
    journalLine();
}

QString TForm1::OutcomeWithEndNote(const QString &remotePath, const QString &endNote) {
    QString outcome = StatusPanel1->text();
    if (endNote.isEmpty()) return outcome;
    ShowEndNote(endNote);
    AddLogLine(QStringLiteral("%1 to device %2: %3").arg(remotePath).arg(DeviceId).arg(endNote));
    return outcome + QStringLiteral("; ") + endNote;
}
