// Whether the Escape key is held down at the moment of the test. Transfer
// loops ask once before each block, on the transfer's worker thread; the
// state they read is atomic. The program tracks presses and releases
// with an application-wide event filter; tests install their own answer.
#pragma once

#include <QObject>

bool EscapeHeld();

// Replaces the key test (null restores the keyboard).
void SetEscapeHeldOverride(bool (*test)());

// Forces EscapeHeld to true until cleared: closing the window during a
// transfer ends it the same way Escape does.
void SetAbortRequested(bool requested);

class EscapeKeyTracker final : public QObject {
public:
    using QObject::QObject;
    // Installs one tracker on the application (idempotent).
    static void Install();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
