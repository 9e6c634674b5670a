#include "platform/PlainRunLoop.h"

#include <utility>

namespace velmora {

PlainRunLoop::~PlainRunLoop() {
    stop();
}

void PlainRunLoop::run() {
    std::unique_lock lock(mutex_);
    if (stopping_)
        return;
    loopThread_ = std::this_thread::get_id();
    while (!stopping_) {
        if (!timers_.empty() && timers_.top().due <= Clock::now()) {
            // priority_queue::top() is const, but moving the task out leaves the ordering keys
            // alone; a copy would run the task's copy and destruction under the lock.
            Timer due = std::move(const_cast<Timer&>(timers_.top()));
            timers_.pop();
            tasks_.push_back(std::move(due.task));
        }
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            // What the task holds may post on its way out, which takes the lock.
            task = nullptr;
            lock.lock();
            continue;
        }
        if (timers_.empty()) {
            wake_.wait(lock);
        } else {
            // A copy: the waiting reads the deadline again after the lock was given up, when a
            // timer posted meanwhile may have moved the queue's storage.
            const Clock::time_point due = timers_.top().due;
            wake_.wait_until(lock, due);
        }
    }
    loopThread_ = {};
}

void PlainRunLoop::stop() {
    // Dropped tasks are destroyed after the lock is given up: what they hold may post.
    std::deque<Task> droppedTasks;
    decltype(timers_) droppedTimers;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        droppedTasks.swap(tasks_);
        droppedTimers.swap(timers_);
    }
    markStopped();
    wake_.notify_all();
}

bool PlainRunLoop::isLoopThread() const {
    std::lock_guard lock(mutex_);
    return loopThread_ == std::this_thread::get_id();
}

void PlainRunLoop::enqueue(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

void PlainRunLoop::enqueueAfter(std::chrono::milliseconds delay, Task task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        timers_.push(Timer{Clock::now() + delay, nextOrder_++, std::move(task)});
    }
    wake_.notify_all();
}

}  // namespace velmora
