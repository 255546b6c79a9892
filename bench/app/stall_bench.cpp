// The longest time the window's event loop goes without running while it
// downloads a 1 MiB program over UDP loopback: a 10 ms timer on the window
// thread notes the gaps between its ticks, and what a gap exceeds the
// timer's interval by is time the window could not repaint or take a click.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "bench/ratio_report.h"
#include "bench/app/window_bench.h"

namespace {

constexpr int kProgramSize = 1024 * 1024;
constexpr int kTickMs = 10;
constexpr int kDownloads = 3;

bool WriteProgram(const QString &path) {
    QByteArray program;
    program.reserve(kProgramSize);
    for (int line = 0; program.size() < kProgramSize; ++line)
        program += "N" + QByteArray::number(line) + " G01 X" + QByteArray::number(line % 500) + ".5 Y-2.25 F300\r\n";
    program.truncate(kProgramSize);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(program) == program.size();
}

}  // namespace

int main(int argc, char **argv) {
    UseOffscreenPlatform();
    QApplication app(argc, argv);
    WindowBench window;
    if (!WriteProgram(window.storage.filePath(QStringLiteral("BIG.NC"))) || !window.Open()) {
        std::fprintf(stderr, "bench_app_stall: set-up failed\n");
        return 1;
    }
    TForm1 &form = *window.form;

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    bool measuring = false;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(kTickMs);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (measuring) longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    ticker.start();

    int failures = 0;
    for (int i = 0; i < kDownloads; ++i) {
        bool started = false;
        QTimer::singleShot(3 * kTickMs, &form, [&] {
            measuring = true;
            form.ReadNcFile(form.DeviceId, QStringLiteral("\\BIG.NC"));
            started = true;
        });
        // The download runs on its worker; the window's event loop goes on
        // here until it has ended.
        while (!started || form.Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (form.LastTransfer().transfer.code != 0) ++failures;
        // The tick after the download still closes its last gap.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 3 * kTickMs) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        measuring = false;
    }
    if (failures != 0) {
        std::fprintf(stderr, "bench_app_stall: %d downloads failed\n", failures);
        return 1;
    }
    std::printf("\nWindow event loop during %d downloads of 1 MiB:\n", kDownloads);
    bench::ReportRow("longest event-loop stall during a 1 MiB download, ms",
                     QByteArray::number(std::max<qint64>(0, longestGap - kTickMs)).toStdString(), "<= 50");
    return 0;
}
