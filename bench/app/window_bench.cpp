#include "bench/app/window_bench.h"

#include <QDir>
#include <cstring>

#include "app/address_book.h"

bool WindowBench::Open() {
    ncsim::Options options;
    options.root = storage.path().toStdString();
    simulator = std::make_unique<ncsim::Simulator>(options);
    if (!simulator->StartUdp("127.0.0.1", 0)) return false;
    QDir::setCurrent(work.path());
    std::memset(AddressBook, 0, sizeof AddressBook);
    SetStoredLinkKind(1);
    SetAddressText(1, "127.0.0.1");
    if (WriteAddressBookFile() != AddressBookIo::Ok) return false;
    // The benches' transfers go to a journal and settings of their own,
    // never the user's (the dncctl runs inherit the journal's name).
    qputenv("DNCPANEL_JOURNAL", work.filePath(QStringLiteral("journal.tsv")).toLocal8Bit());
    TForm1Options formOptions;
    formOptions.udpPort = simulator->UdpPort();
    formOptions.settingsFile = work.filePath(QStringLiteral("settings.ini"));
    form = std::make_unique<TForm1>(formOptions);
    form->show();
    return true;
}

WindowBench::~WindowBench() {
    form.reset();
    if (simulator) simulator->Stop();
}

void UseOffscreenPlatform() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}
