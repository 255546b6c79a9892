#include "dnc_worker.h"

#include <QFile>
#include <QFileInfo>
#include <climits>

#include "sha256.h"
#include "transfers.h"

std::atomic<uint8_t> DncStopRequested{0};

QString DncStreamingText() { return QStringLiteral("DNC文件加工数据传输中...... ==>按停止终止传输"); }

QString DncAbnormalText(int32_t code) { return QStringLiteral("下位机出现异常状态 异常代码:%1").arg(code); }

QString DncStoppedText() { return QStringLiteral("DNC数据传异常终止"); }

void DncWorker(DncWindow &window, uint8_t address) {
    uint8_t code = 0;
    // The end report is left out where a more precise text is final.
    bool reportCode = true;
    const QString path = window.ChooseProgram();
    if (!path.isEmpty()) {
        window.SetStatus(DncStreamingText());
        QFile file(path);
        // Only a regular file has a size to announce; a named pipe would
        // also block this thread until a writer came.
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) || file.size() > INT32_MAX) {
            window.ShowFileError();
            reportCode = false;
        } else {
            // The journal names the program by the hash of the file's bytes,
            // before block 1's '%' is replaced for sending.
            journal::Sha256 hash;
            uint64_t read = 0;
            auto source = [&](uint8_t *buffer, size_t length) {
                if (file.read(reinterpret_cast<char *>(buffer), static_cast<qint64>(length)) !=
                    static_cast<qint64>(length))
                    return false;
                hash.Update(buffer, length);
                read += length;
                return true;
            };
            auto progress = [&window](uint64_t done, uint64_t total) { window.SetProgress(done, total); };
            auto stop = [] { return DncStopRequested.load() != 0; };
            auto sent = [&window](const uint8_t *data, size_t length) {
                window.ShowBlock(data, length);
                return true;
            };
            auto stopWhileBusy = [&window] { window.SetStatus(DncStoppedText()); };
            nccmd::DncCallbacks callbacks;
            callbacks.source = source;
            callbacks.progress = progress;
            callbacks.stopRequested = stop;
            callbacks.blockSent = sent;
            callbacks.stopWhileBusy = stopWhileBusy;
            const nccmd::TransferResult result =
                nccmd::RunDncStream(address, static_cast<int32_t>(file.size()), callbacks);
            file.close();
            window.ProgramStreamed(path, read, hash.HexDigest());
            code = result.code;
            if (code != 0) {
                // The failed exchange's text is the end report.
            } else if (result.abnormalCode != 0) {
                window.SetStatus(DncAbnormalText(result.abnormalCode));
                reportCode = false;
            } else if (result.localFailure) {
                // The file changed under the run; the controller was sent
                // the abort block. Not a success.
                window.ShowFileError();
                reportCode = false;
            } else {
                window.SetProgressFull();
                if (result.aborted) {
                    // Stopped before its end: the program did not reach the
                    // controller whole, which "Operation Successful" would
                    // claim.
                    window.SetStatus(DncStoppedText());
                    reportCode = false;
                }
            }
        }
    }
    if (reportCode) window.ShowResultCode(code);
    uint8_t stopped = 1;
    DncStopRequested.compare_exchange_strong(stopped, 0);
    window.RunEnded();
}
