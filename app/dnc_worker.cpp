#include "app/dnc_worker.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <cstring>

#include "nccmd/result_texts.h"
#include "journal/data_tally.h"
#include "nccmd/transfers.h"

std::atomic<uint8_t> DncStopRequested{0};

QString DncStreamingText() { return QStringLiteral("DNC文件加工数据传输中...... ==>按停止终止传输"); }

QString DncAbnormalText(int32_t code) { return QString::fromStdString(nccmd::DncAbnormalText(code)); }

QString DncStoppedText() { return QString::fromUtf8(nccmd::kDncStoppedText); }

QString DncStopNote(int64_t block, int64_t blocks, uint64_t line, uint64_t byte) {
    return QStringLiteral("stopped at block %1 of %2, program line %3 (byte %4)").arg(block).arg(blocks).arg(line).arg(byte);
}

void DncWorker(DncWindow &window, uint8_t address, const DncRestartJob *restart) {
    uint8_t code = 0;
    // The end report is left out where a more precise text is final.
    bool reportCode = true;
    const QString path = restart ? restart->path : window.ChooseProgram();
    if (!path.isEmpty()) {
        window.SetStatus(DncStreamingText());
        QFile file(path);
        // Only a regular file has a size to announce; a named pipe would
        // also block this thread until a writer came. A restart's stream
        // is in memory already.
        if (!restart &&
            (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) || file.size() > INT32_MAX)) {
            window.ShowFileError();
            reportCode = false;
        } else {
            // The journal names the program by the hash of the file's bytes,
            // before block 1's '%' is replaced for sending.
            journal::DataTally streamed;
            // Line feeds before the block in hand and up to its end: the
            // program line a stopped run stopped at, without reading the
            // file again.
            uint64_t linesBeforeLast = 0;
            uint64_t lines = 0;
            auto source = [&](uint8_t *buffer, size_t length) {
                if (restart) {
                    const std::string &stream = restart->plan.stream;
                    if (length > stream.size() - streamed.Bytes()) return false;
                    std::memcpy(buffer, stream.data() + streamed.Bytes(), length);
                } else if (file.read(reinterpret_cast<char *>(buffer), static_cast<qint64>(length)) !=
                           static_cast<qint64>(length)) {
                    return false;
                }
                streamed.Add(buffer, length);
                linesBeforeLast = lines;
                lines += static_cast<uint64_t>(std::count(buffer, buffer + length, uint8_t('\n')));
                return true;
            };
            bool announced = false;
            auto progress = [&window, &announced](uint64_t done, uint64_t total) {
                announced = true;
                window.SetProgress(done, total);
            };
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
            const auto size = static_cast<uint64_t>(restart ? restart->plan.stream.size() : file.size());
            const nccmd::TransferResult result = nccmd::RunDncStream(address, static_cast<int32_t>(size), callbacks);
            file.close();
            window.ProgramStreamed(path, streamed.Bytes(), streamed.HexDigest());
            if (announced && !result.Succeeded()) {
                // The bytes the controller took: the abort block and a block
                // that failed are not among them. The bar shows that much,
                // not the full bar of a finished run.
                const uint64_t taken = result.bytesDone;
                const uint64_t newlines = taken == streamed.Bytes() ? lines : linesBeforeLast;
                const int64_t blocks = static_cast<int64_t>((size + 511) / 512);
                const int64_t block = std::min<int64_t>(static_cast<int64_t>(taken / 512) + 1, blocks);
                uint64_t line = newlines + 1;
                uint64_t byte = taken;
                if (restart) {
                    // Blocks count the stream; the line and byte are the
                    // program's, where the operator goes on from. Bytes of
                    // the opening and preamble leave the restart line to do.
                    const nccmd::RestartPlan &plan = restart->plan;
                    byte = std::max(plan.ProgramOffsetOf(static_cast<size_t>(taken)), plan.programOffset);
                    line = nccmd::LineOfOffset(nccmd::SplitProgramLines(restart->program), static_cast<size_t>(byte));
                }
                window.SetProgress(taken, size);
                window.RunStopped(DncStopNote(block, blocks, line, byte), byte);
            }
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
                if (!result.aborted) window.SetProgressFull();
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
