#include "app/window_queue.h"

#include <QMetaObject>
#include <QTimer>

std::shared_ptr<WindowQueue> WindowQueue::Create(QObject *window) {
    return std::shared_ptr<WindowQueue>(new WindowQueue(window));
}

void WindowQueue::Post(std::function<void()> action, bool batched) {
    const std::lock_guard lock(mutex_);
    if (detached_) return;
    items_.push_back({std::move(action), batched});
    if (drainPosted_) return;
    drainPosted_ = true;
    // Posted under the lock: Detach, which comes before the window goes,
    // cannot slip in between the check and the post.
    std::weak_ptr<WindowQueue> weak = weak_from_this();
    QMetaObject::invokeMethod(
        window_, [weak] { if (const auto queue = weak.lock()) queue->Drain(); }, Qt::QueuedConnection);
}

std::optional<QString> WindowQueue::Ask(std::function<QString()> question) {
    struct Answer {
        bool given = false;
        QString value;
    };
    auto answer = std::make_shared<Answer>();
    Post([this, answer, question = std::move(question)] {
        QString value = question();
        {
            const std::lock_guard lock(mutex_);
            answer->value = std::move(value);
            answer->given = true;
        }
        changed_.notify_all();
    });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return answer->given || detached_; });
    if (!answer->given) return std::nullopt;
    return answer->value;
}

void WindowQueue::MarkFinished() {
    {
        const std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

void WindowQueue::SetFlush(std::function<void()> flush) { flush_ = std::move(flush); }

bool WindowQueue::WaitFinished(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return finished_; });
}

void WindowQueue::Detach() {
    {
        const std::lock_guard lock(mutex_);
        detached_ = true;
        items_.clear();
    }
    detachedHere_ = true;
    flush_ = nullptr;
    changed_.notify_all();
}

void WindowQueue::RunTurn() {
    const auto keepAlive = shared_from_this();  // an action may release the last owner
    // One turn takes what is there now; what the worker posts meanwhile
    // waits for the next turn. A worker that posts faster than the window
    // runs actions would otherwise hold the window in here, and it would
    // neither paint nor see a key until the worker stopped.
    std::deque<Item> batch;
    {
        const std::lock_guard lock(mutex_);
        batch.swap(items_);
    }
    for (Item &item : batch) {
        // An action may have detached the queue (the run ended, the
        // window closed): what follows it no longer has a window.
        if (detachedHere_) break;
        if (!item.batched && flush_) flush_();
        item.action();
    }
    if (!detachedHere_ && flush_) flush_();
}

void WindowQueue::RunPending() { RunTurn(); }

void WindowQueue::Drain() {
    // Only one turn is ever scheduled: drainPosted_ stays set from the post
    // until this turn schedules the next, so an action that opens a modal
    // box (a nested event loop) is never overtaken by a later turn.
    const auto keepAlive = shared_from_this();  // an action may release the last owner
    RunTurn();
    if (detachedHere_) return;
    const std::lock_guard lock(mutex_);
    if (items_.empty()) {
        drainPosted_ = false;
        return;
    }
    // The next turn goes behind the window's timers and paints, not ahead of
    // them as a posted call would: a worker that keeps posting then never
    // holds the window for more than one turn at a time.
    std::weak_ptr<WindowQueue> weak = weak_from_this();
    QTimer::singleShot(1, window_, [weak] {
        if (const auto queue = weak.lock()) queue->Drain();
    });
}
