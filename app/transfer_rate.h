// The text of the rate panel while data moves: blocks done of all, bytes per
// second since the start and the time left at that pace.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>

// "Block 3/10  1.5 KB/s  0:05 left"; the rate and time left read "--"
// until some time has passed and some bytes have moved.
QString RateText(uint64_t done, uint64_t total, int64_t elapsedMs);

class TransferRate {
public:
    void Start() { clock_.start(); }
    QString Text(uint64_t done, uint64_t total) const { return RateText(done, total, clock_.elapsed()); }

private:
    QElapsedTimer clock_;
};
