#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"

namespace velmora {

// A run loop without an event framework: run() turns the calling thread into the loop until
// stop(). Used where no Qt event loop runs (tests, command-line tools).
class PlainRunLoop : public RunLoop {
  public:
    PlainRunLoop() = default;
    ~PlainRunLoop() override;

    // Runs tasks and due timers on the calling thread until stop(). Returns at once when the
    // loop has already stopped.
    void run();
    // Ends run() after the task running now; tasks still queued are dropped. Any thread.
    void stop();

  protected:
    bool isLoopThread() const override;
    void enqueue(Task task) override;
    void enqueueAfter(std::chrono::milliseconds delay, Task task) override;

  private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Clock::time_point due;
        unsigned long long order;  // keeps equal deadlines in the order posted
        Task task;
        bool operator>(const Timer& other) const {
            return due != other.due ? due > other.due : order > other.order;
        }
    };

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
    unsigned long long nextOrder_ = 0;
    bool stopping_ = false;
    std::thread::id loopThread_;
};

}  // namespace velmora
