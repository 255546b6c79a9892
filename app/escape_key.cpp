#include "app/escape_key.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <atomic>

namespace {
// Written on the window thread, read by a transfer's worker between blocks.
std::atomic<bool> escapeDown{false};
std::atomic<bool> abortRequested{false};
std::atomic<bool (*)()> overrideTest{nullptr};
EscapeKeyTracker *tracker = nullptr;
}  // namespace

bool EscapeHeld() {
    if (abortRequested) return true;
    if (bool (*test)() = overrideTest.load()) return test();
    return escapeDown;
}

void SetEscapeHeldOverride(bool (*test)()) { overrideTest = test; }

void SetAbortRequested(bool requested) { abortRequested = requested; }

void EscapeKeyTracker::Install() {
    if (tracker || !QCoreApplication::instance()) return;
    tracker = new EscapeKeyTracker(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(tracker);
}

bool EscapeKeyTracker::eventFilter(QObject *watched, QEvent *event) {
    const auto type = event->type();
    if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && !key->isAutoRepeat()) escapeDown = type == QEvent::KeyPress;
    } else if (type == QEvent::ApplicationDeactivate) {
        // A release that happens in another window never reaches us.
        escapeDown = false;
    }
    return QObject::eventFilter(watched, event);
}
