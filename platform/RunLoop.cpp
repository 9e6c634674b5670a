#include "platform/RunLoop.h"

#include <cmath>
#include <condition_variable>
#include <list>
#include <mutex>

namespace velmora {

// A waiting caller's state. `abandoned` is set when the loop stops before the task started; the
// task then never runs, since it may refer to the caller's stack that is already gone.
struct RunLoop::Wait {
    bool started = false;
    bool finished = false;
    bool abandoned = false;
};

struct RunLoop::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool stopped = false;
    std::list<std::shared_ptr<Wait>> waits;
};

RunLoop::RunLoop() : shared_(std::make_shared<Shared>()) {}

RunLoop::~RunLoop() {
    markStopped();
}

bool RunLoop::isStopped() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->stopped;
}

RunLoop::Task RunLoop::guarded(Task task) const {
    return [shared = shared_, task = std::move(task)] {
        {
            std::lock_guard lock(shared->mutex);
            if (shared->stopped)
                return;
        }
        task();
    };
}

bool RunLoop::post(Task task) {
    if (isStopped())
        return false;
    enqueue(guarded(std::move(task)));
    return true;
}

bool RunLoop::postAfter(double seconds, Task task) {
    if (isStopped())
        return false;
    enqueueAfter(delayFromSeconds(seconds), guarded(std::move(task)));
    return true;
}

bool RunLoop::postAndWait(Task task) {
    if (isLoopThread()) {
        if (isStopped())
            return false;
        task();
        return true;
    }
    // The loop object may be destroyed while this caller waits (its destructor releases the
    // caller); from then on only this copy keeps the shared state.
    const std::shared_ptr<Shared> shared = shared_;
    auto wait = std::make_shared<Wait>();
    std::list<std::shared_ptr<Wait>>::iterator entry;
    {
        std::lock_guard lock(shared->mutex);
        if (shared->stopped)
            return false;
        entry = shared->waits.insert(shared->waits.end(), wait);
    }
    // The task is referenced, not copied: it lives on this stack until the wait below ends, and
    // runs only while this caller is still waiting.
    enqueue([shared, wait, &task] {
        {
            std::lock_guard lock(shared->mutex);
            if (wait->abandoned)
                return;
            wait->started = true;
        }
        task();
        {
            std::lock_guard lock(shared->mutex);
            wait->finished = true;
        }
        shared->changed.notify_all();
    });
    std::unique_lock lock(shared->mutex);
    shared->changed.wait(lock, [&] { return wait->finished || wait->abandoned; });
    shared->waits.erase(entry);
    return wait->finished;
}

void RunLoop::markStopped() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopped = true;
        for (const std::shared_ptr<Wait>& wait : shared_->waits) {
            if (!wait->started)
                wait->abandoned = true;
        }
    }
    shared_->changed.notify_all();
}

std::chrono::milliseconds RunLoop::delayFromSeconds(double seconds) {
    if (!(seconds > 0))
        return std::chrono::milliseconds(0);
    const double limit = static_cast<double>(kMaxDelay.count()) / 1000.0;
    if (seconds >= limit)
        return kMaxDelay;
    return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000.0)));
}

}  // namespace velmora
