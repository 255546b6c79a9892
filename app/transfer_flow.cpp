#include "app/transfer_flow.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <cstring>

#include "app/gbk_text.h"
#include "journal/data_tally.h"
#include "journal/journal.h"
#include "nccmd/result_texts.h"

namespace {

QString ResultText(uint8_t code) { return QString::fromStdString(nccmd::ResultCodeText(code)); }

// The box and the status of a local file that cannot be used.
const QString kMissingFileText = QStringLiteral("此文件不存在!!!!");

}  // namespace

QString TransferStatusText() { return QStringLiteral("数据传输中...... ==>按Esc键终止传输"); }

QString TransferAbortedText() { return QStringLiteral("数据传输已终止 Transfer aborted (Esc)"); }

QString VerifyFailedText(const QString &remotePath, uint64_t at) {
    return QStringLiteral("Verify failed: %1 on the controller differs from the data sent, from byte %2 on")
        .arg(remotePath)
        .arg(at);
}

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

TransferOutcome TransferFlow::Download(const QString &remotePath) {
    abortSeen_ = false;
    view_.DownloadStarting(remotePath);
    view_.TransferStarting();
    const QByteArray path = ToGbk(remotePath);
    GbkBlockDecoder decoder;
    journal::DataTally received;
    auto sink = [&](const uint8_t *data, size_t length) {
        received.Add(data, length);
        // A block's text ends at its first NUL byte.
        const size_t textLength = strnlen(reinterpret_cast<const char *>(data), length);
        view_.DownloadText(decoder.Decode(reinterpret_cast<const char *>(data), static_cast<qsizetype>(textLength)));
        return true;
    };
    bool announced = false;
    uint64_t size = 0;
    auto progress = [&](uint64_t done, uint64_t total) {
        announced = true;
        size = total;
        Progress(done, total);
    };
    auto abort = [this] { return Abort(); };
    TransferOutcome outcome;
    outcome.transfer = nccmd::ReadRemoteFile(target_.deviceId, path.constData(), sink, progress, abort);
    const nccmd::TransferResult &result = outcome.transfer;
    if (const QString rest = decoder.Finish(); !rest.isEmpty()) view_.DownloadText(rest);
    view_.ProgressEnded();
    outcome.whole = result.Succeeded();
    view_.DownloadEnded(remotePath, outcome.whole);

    // A download that ended early leaves the bar where it got to.
    if (result.code != 0) {
        outcome.status = ResultText(result.code);
        view_.ShowResultCode(result.code);
    } else if (result.aborted) {
        outcome.status = TransferAbortedText();
        view_.ShowStatus(outcome.status);
    } else {
        view_.ProgressFull();
        outcome.status = ResultText(0);
        view_.ShowResultCode(0);
    }
    QString journalled = outcome.status;
    if (announced && !result.Succeeded()) {
        const QString note = TransferEndNote(QStringLiteral("Download"), result, size, QStringLiteral("arrived"));
        journalled = WithEndNote(outcome.status, QStringLiteral("%1 from device %2").arg(remotePath).arg(target_.deviceId),
                                 note);
    }
    view_.Journal({journal::kGet, remotePath, {}, received.Bytes(), received.HexDigest(), journalled});
    return outcome;
}

TransferOutcome TransferFlow::Upload(const QString &localFile, const QString &remotePath) {
    abortSeen_ = false;
    view_.TransferStarting();
    QFile file(localFile);
    // Only a regular file has a size to announce; opening a named pipe would
    // wait for a writer for ever.
    if (!QFileInfo(localFile).isFile() || !file.open(QIODevice::ReadOnly) || file.size() > INT32_MAX) {
        view_.ShowStatus({});
        view_.ShowFileError();
        return {};
    }
    const auto size = static_cast<int32_t>(file.size());
    const QByteArray path = ToGbk(remotePath);
    journal::DataTally sent;
    auto source = [&](uint8_t *buffer, size_t length) {
        if (file.read(reinterpret_cast<char *>(buffer), static_cast<qint64>(length)) != static_cast<qint64>(length))
            return false;
        sent.Add(buffer, length);
        return true;
    };
    auto progress = [this](uint64_t done, uint64_t total) { Progress(done, total); };
    auto abort = [this] { return Abort(); };
    const nccmd::TransferResult result =
        nccmd::WriteRemoteFile(target_.deviceId, path.constData(), size, source, progress, abort);
    // The file is read again, as it is now: a file changed since the
    // upload shows up as a difference too. A read error ends the bytes
    // there, which the comparison reports as a difference.
    bool rewound = false;
    auto expected = [&](uint8_t *buffer, size_t length) -> int64_t {
        if (!rewound) rewound = file.seek(0);
        return std::max<qint64>(0, file.read(reinterpret_cast<char *>(buffer), static_cast<qint64>(length)));
    };
    const QString absolute = QFileInfo(localFile).absoluteFilePath();
    return Finish({journal::kPut, remotePath, absolute, sent.Bytes(), sent.HexDigest(), {}}, result,
                  static_cast<uint64_t>(size), QStringLiteral("Upload"), expected);
}

TransferOutcome TransferFlow::SaveAs(const QString &remotePath, const QByteArray &text) {
    abortSeen_ = false;
    view_.TransferStarting();
    const QByteArray path = ToGbk(remotePath);
    qsizetype offset = 0;
    journal::DataTally sent;
    auto source = [&](uint8_t *buffer, size_t length) {
        // The abort block goes out as the loop's zeroed buffer: the text
        // that would have followed is not sent once the user has said stop.
        if (abortSeen_) return true;
        if (offset + static_cast<qsizetype>(length) > text.size()) return false;
        std::memcpy(buffer, text.constData() + offset, length);
        sent.Add(buffer, length);
        offset += static_cast<qsizetype>(length);
        return true;
    };
    auto progress = [this](uint64_t done, uint64_t total) { Progress(done, total); };
    auto abort = [this] { return Abort(); };
    const nccmd::TransferResult result = nccmd::WriteRemoteFile(
        target_.deviceId, path.constData(), static_cast<int32_t>(text.size()), source, progress, abort);
    qsizetype readAt = 0;
    auto expected = [&](uint8_t *buffer, size_t length) -> int64_t {
        const qsizetype n = std::min<qsizetype>(static_cast<qsizetype>(length), text.size() - readAt);
        std::memcpy(buffer, text.constData() + readAt, static_cast<size_t>(n));
        readAt += n;
        return n;
    };
    return Finish({journal::kSaveAs, remotePath, {}, sent.Bytes(), sent.HexDigest(), {}}, result,
                  static_cast<uint64_t>(text.size()), QStringLiteral("Save As"), expected);
}

TransferOutcome TransferFlow::Finish(TransferJournalLine line, const nccmd::TransferResult &result, uint64_t size,
                                     const QString &what, nccmd::ExpectedSource expected) {
    TransferOutcome outcome;
    outcome.transfer = result;
    const QString logLine = QStringLiteral("%1 to device %2").arg(line.remotePath).arg(target_.deviceId);
    QString endNote;
    if (!result.Succeeded()) endNote = TransferEndNote(what, result, size, QStringLiteral("sent"));
    if (result.code != 0) {
        outcome.status = ResultText(result.code);
        view_.ShowResultCode(result.code);
        line.result = WithEndNote(outcome.status, logLine, endNote);
        view_.Journal(line);
        return outcome;
    }
    if (result.localFailure) {
        // The file changed or failed under us; the controller was told by
        // the abort block, the user by the same box as a missing file.
        outcome.status = kMissingFileText;
        view_.ShowStatus(outcome.status);
        view_.ShowFileError();
        line.result = WithEndNote(outcome.status, logLine, endNote);
        view_.Journal(line);
        view_.ShowStatus({});
        return outcome;
    }
    // An aborted write leaves the bar where it got to; the listing read
    // afterwards does not fill it.
    if (!result.aborted) view_.ProgressFull();
    if (target_.verify && !result.aborted) outcome.verifyError = Verify(line.remotePath, size, expected);
    const uint8_t listed = view_.RefreshListing();
    if (!outcome.verifyError.isEmpty()) {
        outcome.status = outcome.verifyError;
        view_.ShowStatus(outcome.status);
    } else if (listed != 0) {
        // The listing's failure is on show already.
        outcome.status = ResultText(listed);
    } else if (result.aborted) {
        outcome.status = TransferAbortedText();
        view_.ShowStatus(outcome.status);
    } else {
        outcome.status = ResultText(0);
        view_.ShowResultCode(0);
    }
    outcome.whole = outcome.verifyError.isEmpty() && listed == 0 && !result.aborted;
    line.result = WithEndNote(outcome.status, logLine, endNote);
    view_.Journal(line);
    return outcome;
}

QString TransferFlow::Verify(const QString &remotePath, uint64_t size, nccmd::ExpectedSource expected) {
    view_.TransferStarting();
    const QByteArray path = ToGbk(remotePath);
    auto progress = [this](uint64_t done, uint64_t total) { Progress(done, total); };
    auto abort = [this] { return Abort(); };
    const nccmd::Comparison comparison =
        nccmd::CompareRemoteFile(target_.deviceId, path.constData(), size, expected, false, progress, abort);
    const nccmd::TransferResult &result = comparison.read;
    view_.ProgressEnded();
    if (result.code != 0) return QStringLiteral("Verify failed: %1").arg(ResultText(result.code));
    if (result.aborted) return QStringLiteral("Verify failed: the read-back was aborted");
    if (comparison.firstDifference != nccmd::kNoDifference) {
        const QString text = VerifyFailedText(remotePath, comparison.firstDifference);
        view_.AddLogLine(text);
        return text;
    }
    view_.AddLogLine(QStringLiteral("Verified %1: %2 bytes read back match").arg(remotePath).arg(size));
    return {};
}

QString TransferFlow::WithEndNote(const QString &status, const QString &logLine, const QString &endNote) {
    if (endNote.isEmpty()) return status;
    view_.ShowEndNote(endNote);
    view_.AddLogLine(QStringLiteral("%1: %2").arg(logLine, endNote));
    return status + QStringLiteral("; ") + endNote;
}
