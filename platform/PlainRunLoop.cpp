#include "platform/PlainRunLoop.h"

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
            // priority_queue::top() is const; the task is moved out through a copy of the record.
            Timer due = timers_.top();
            timers_.pop();
            tasks_.push_back(std::move(due.task));
        }
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
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
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        tasks_.clear();
        timers_ = {};
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
