// The demo: a simulated controller in this process on a free loopback UDP
// port and on a pseudo-terminal, both serving one fresh sample tree, and a
// private working directory whose address book points device 1 at it with
// the network link selected. Switching to the serial link and its
// pseudo-terminal lists the same storage. The user's own IpAddr.dat,
// settings and journal are never touched.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>

namespace ncsim {
class Simulator;
}

class DemoController {
public:
    DemoController();
    ~DemoController();

    // The bytes per second the controller machines a DNC run at (0, the
    // default: at once); before Start.
    void SetDncRate(uint32_t bytesPerSecond) { dncRate_ = bytesPerSecond; }

    // Changes the working directory to a private one; false with a reason
    // when anything fails.
    bool Start(QString *error);
    uint16_t Port() const;
    // The pseudo-terminal the serial side answers on.
    QString SerialDevice() const;
    QString WorkingDirectory() const { return dir_.path(); }
    ncsim::Simulator *Simulator() const { return simulator_.get(); }

private:
    QTemporaryDir dir_;
    uint32_t dncRate_ = 0;
    std::unique_ptr<ncsim::Simulator> simulator_;
    std::unique_ptr<ncsim::Simulator> serialSimulator_;
};
