// Bytes per second of a 4 MiB DNC run through the window (worker thread,
// memo, progress bar, rate panel) against a simulated controller that never
// answers busy, as a ratio to the same run through `dncctl dnc` in the same
// run: how much the window's display of the stream costs the stream.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "app/address_book.h"
#include "app/dialogs.h"
#include "bench/ratio_report.h"
#include "bench/app/window_bench.h"

extern char **environ;

namespace {

constexpr int kProgramSize = 4 * 1024 * 1024;

// The file dialog always answers with the program; nothing else is asked.
class ProgramDialogs final : public Dialogs {
public:
    QString program;
    bool Confirm(QWidget *, const QString &, const QString &) override { return true; }
    void Inform(QWidget *, const QString &, const QString &) override {}
    void Error(QWidget *, const QString &, const QString &) override {}
    QString OpenFileName(QWidget *, const QString &, const QString &) override { return program; }
    QString SaveFileName(QWidget *, const QString &, const QString &) override { return {}; }
    int ExecModal(QDialog *) override { return 2; }
};

struct Setup {
    WindowBench window;
    ProgramDialogs dialogs;
};

Setup *setup = nullptr;

bool Prepare() {
    setup = new Setup;
    // NC text, as the memo would show it.
    QByteArray program;
    program.reserve(kProgramSize);
    for (int line = 0; program.size() < kProgramSize; ++line)
        program += "N" + QByteArray::number(line) + " G01 X" + QByteArray::number(line % 500) + ".5 Y-2.25 F300\r\n";
    program.truncate(kProgramSize);
    setup->dialogs.program = setup->window.work.filePath(QStringLiteral("PROGRAM.NC"));
    QFile file(setup->dialogs.program);
    if (!file.open(QIODevice::WriteOnly) || file.write(program) != program.size()) return false;
    file.close();
    InstallDialogs(&setup->dialogs);
    return setup->window.Open();
}

bool RunDncctl() {
    std::vector<std::string> args = {DNCCTL_PATH, "--udp", "127.0.0.1:" + std::to_string(setup->window.simulator->UdpPort()),
                                     "dnc", setup->dialogs.program.toStdString()};
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;  // its progress bar would only slow the terminal
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_DncctlDnc(benchmark::State &state) {
    for (auto _ : state) {
        if (!RunDncctl()) state.SkipWithError("dncctl dnc failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kProgramSize);
}

// Start pressed, and the window's own event loop until the run has ended
// and the window shows its end.
void BM_WindowDnc(benchmark::State &state) {
    TForm1 &form = *setup->window.form;
    for (auto _ : state) {
        form.BitBtn11Click();
        while (form.DncRunning()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (form.StatusText(1) != QStringLiteral("Operation Successful")) state.SkipWithError("the run failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kProgramSize);
}

BENCHMARK(BM_DncctlDnc)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_WindowDnc)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace

int main(int argc, char **argv) {
    UseOffscreenPlatform();
    QApplication app(argc, argv);
    if (!Prepare()) {
        std::fprintf(stderr, "bench_app_dnc: set-up failed\n");
        return 1;
    }
    const int result = bench::RunWithRatios(
        argc, argv,
        {{"DNC run of 4 MiB: window bytes/s / dncctl dnc bytes/s", "BM_WindowDnc/iterations:4/real_time",
          "BM_DncctlDnc/iterations:4/real_time", ">= 0.9"}});
    delete setup;
    InstallDialogs(nullptr);
    return result;
}
