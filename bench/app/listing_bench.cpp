// How long the window takes to show a full 1024-entry listing, compared
// with fetching that listing from a simulated controller over UDP loopback
// in the same run.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/Unit1.h"
#include "app/address_book.h"
#include "nccmd/nc_commands.h"
#include "bench/ratio_report.h"
#include "bench/app/window_bench.h"

namespace {

struct Setup {
    WindowBench window;
    uint8_t listing[kListingBufferSize];
    uint32_t total = 0;
};

Setup *setup = nullptr;

bool Prepare() {
    setup = new Setup;
    QTemporaryDir &storage = setup->window.storage;
    if (!QDir(storage.path()).mkdir(QStringLiteral("BIG"))) return false;
    for (int i = 0; i < kListingMaxEntries; ++i) {
        QFile file(storage.filePath(QStringLiteral("BIG/F%1.NC").arg(i, 4, 10, QChar('0'))));
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(i, 'G')) != i) return false;
    }
    return setup->window.Open();
}

// NcListDir over the network link, as ReadNcDirectory calls it.
void BM_FetchListing(benchmark::State &state) {
    for (auto _ : state) {
        const uint8_t code = nccmd::NcListDir(1, "%DirList%%\\BIG\\", &setup->total, setup->listing);
        if (code != 0 || setup->total != kListingBufferSize) {
            state.SkipWithError("listing failed");
            break;
        }
    }
}

// Those entries drawn into ListView1 and painted.
void BM_ShowListing(benchmark::State &state) {
    TForm1 &form = *setup->window.form;
    for (auto _ : state) {
        ShowListing(form.ListView1, form.ImageList1, setup->listing, setup->total);
        form.ListView1->viewport()->repaint();
    }
    if (form.ListView1->topLevelItemCount() != kListingMaxEntries) state.SkipWithError("not all entries shown");
}

// Fetch first: the show bench uses the listing it leaves behind.
BENCHMARK(BM_FetchListing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowListing)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
    UseOffscreenPlatform();
    QApplication app(argc, argv);
    if (!Prepare()) {
        std::fprintf(stderr, "bench_app_listing: set-up failed\n");
        return 1;
    }
    const int result = bench::RunWithRatios(
        argc, argv,
        {{"time to show 1024 entries in ListView1 / time to fetch them over UDP", "BM_FetchListing",
          "BM_ShowListing"}});
    delete setup;
    return result;
}
