#include "app/transfer_rate.h"

#include "nccmd/nc_protocol.h"

namespace {

uint64_t Blocks(uint64_t bytes) { return (bytes + nccmd::kBlockSize - 1) / nccmd::kBlockSize; }

QString Speed(double bytesPerSecond) {
    if (bytesPerSecond >= 1024.0 * 1024.0) return QStringLiteral("%1 MB/s").arg(bytesPerSecond / 1048576.0, 0, 'f', 1);
    if (bytesPerSecond >= 1024.0) return QStringLiteral("%1 KB/s").arg(bytesPerSecond / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 B/s").arg(static_cast<qint64>(bytesPerSecond));
}

QString Duration(uint64_t seconds) {
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QChar('0'))
            .arg(seconds % 60, 2, 10, QChar('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

}  // namespace

QString RateText(uint64_t done, uint64_t total, int64_t elapsedMs) {
    const QString blocks = QStringLiteral("Block %1/%2").arg(Blocks(done)).arg(Blocks(total));
    if (elapsedMs <= 0 || done == 0) return blocks + QStringLiteral("  -- B/s  --:-- left");
    const double rate = static_cast<double>(done) * 1000.0 / static_cast<double>(elapsedMs);
    const uint64_t left = done >= total ? 0 : static_cast<uint64_t>(static_cast<double>(total - done) / rate + 0.5);
    return blocks + QStringLiteral("  ") + Speed(rate) + QStringLiteral("  ") + Duration(left) +
           QStringLiteral(" left");
}
