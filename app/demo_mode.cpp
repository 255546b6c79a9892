#include "app/demo_mode.h"

#include <QDir>
#include <cstring>

#include "app/address_book.h"
#include "ncsim/simulator.h"

DemoController::DemoController() = default;

DemoController::~DemoController() {
    if (serialSimulator_) serialSimulator_->Stop();
    if (simulator_) simulator_->Stop();
}

bool DemoController::Start(QString *error) {
    if (!dir_.isValid()) {
        *error = QStringLiteral("Cannot create a working directory: %1").arg(dir_.errorString());
        return false;
    }
    if (!QDir::setCurrent(dir_.path())) {
        *error = QStringLiteral("Cannot enter %1").arg(dir_.path());
        return false;
    }
    ncsim::Options network;  // a fresh sample tree of its own
    network.dncRate = dncRate_;
    simulator_ = std::make_unique<ncsim::Simulator>(network);
    if (!simulator_->StartUdp("127.0.0.1", 0)) {
        *error = QStringLiteral("The simulated controller did not start: %1")
                     .arg(QString::fromStdString(simulator_->LastError()));
        return false;
    }
    // The same storage on the serial side: the window sends one request at
    // a time, so the two never work on the folder at once.
    ncsim::Options serial;
    serial.root = simulator_->Root();
    serial.dncRate = dncRate_;
    serialSimulator_ = std::make_unique<ncsim::Simulator>(serial);
    if (!serialSimulator_->StartPty()) {
        *error = QStringLiteral("The simulated controller's serial side did not start: %1")
                     .arg(QString::fromStdString(serialSimulator_->LastError()));
        return false;
    }
    std::memset(AddressBook, 0, sizeof AddressBook);
    SetStoredLinkKind(1);
    SetAddressText(1, "127.0.0.1");
    if (WriteAddressBookFile() != AddressBookIo::Ok) {
        *error = QStringLiteral("Cannot write %1 in %2").arg(QString::fromLatin1(kAddressBookFile), dir_.path());
        return false;
    }
    return true;
}

uint16_t DemoController::Port() const { return simulator_ ? simulator_->UdpPort() : 0; }

QString DemoController::SerialDevice() const {
    return serialSimulator_ ? QString::fromStdString(serialSimulator_->PtyPath()) : QString();
}
