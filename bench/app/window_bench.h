// What the window benches share: the window on device 1 over UDP loopback,
// against a simulated controller serving a scratch folder, with a scratch
// working directory for its address book.
#pragma once

#include <QTemporaryDir>
#include <memory>

#include "app/Unit1.h"
#include "ncsim/simulator.h"

struct WindowBench {
    QTemporaryDir storage;  // the controller's storage; fill it before Open
    QTemporaryDir work;
    std::unique_ptr<ncsim::Simulator> simulator;
    std::unique_ptr<TForm1> form;

    // Starts the simulator and shows the window. False on any failure.
    bool Open();
    ~WindowBench();
};

// Sets the offscreen platform unless another is asked for; call before the
// QApplication is made.
void UseOffscreenPlatform();
