// Carries a worker thread's actions on the window to the window thread, in
// the order the worker performs them. The worker never waits for the window
// except when it asks a question, and the window can cut the worker off at
// any time: once detached, actions are dropped and questions answered
// "gone", so a closing window never waits for a worker that waits for it.
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class WindowQueue : public std::enable_shared_from_this<WindowQueue> {
public:
    // `window` lives on the window thread and receives the drain calls; it
    // must outlive the queue's attachment (Detach before it goes).
    static std::shared_ptr<WindowQueue> Create(QObject *window);

    // Worker side. A batched action is one whose effect may be shown later
    // together with its neighbours (memo text, progress): the flush hook
    // shows them before the next unbatched action runs.
    void Post(std::function<void()> action, bool batched = false);
    // Runs `question` on the window thread and waits for its answer; empty
    // when the window went away first.
    std::optional<QString> Ask(std::function<QString()> question);
    // The worker's last step: it touches nothing of the queue's users after.
    void MarkFinished();

    // Window side.
    void SetFlush(std::function<void()> flush);
    // Runs now what the worker has posted so far, for window code about to
    // read what those actions show (the close question's progress): a turn
    // waits behind the window's timers, so it may not have run yet.
    void RunPending();
    // True once the worker has marked itself finished, waiting up to `limit`.
    bool WaitFinished(std::chrono::milliseconds limit);
    // Drops what is pending and everything posted later; wakes a worker
    // waiting for an answer. Also forgets the flush hook.
    void Detach();

private:
    explicit WindowQueue(QObject *window) : window_(window) {}
    void Drain();
    void RunTurn();

    struct Item {
        std::function<void()> action;
        bool batched;
    };

    QObject *window_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> items_;
    bool drainPosted_ = false;
    bool detached_ = false;
    bool finished_ = false;
    // Window thread only.
    bool detachedHere_ = false;
    std::function<void()> flush_;
};
