#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velmora::console {

// One worker thread that runs queued work in the order it was posted, so that the queue
// changes it makes happen in that order and never on the caller's (the window's) thread.
// Work still queued when the object goes away runs first; each piece bounds its own time.
class CommandQueue {
  public:
    using Work = std::function<void()>;

    CommandQueue();
    ~CommandQueue();
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    void post(Work work);
    // Blocks until everything posted before the call has run. Never call it from the worker.
    void waitUntilIdle();

  private:
    void runWorker();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Work> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace velmora::console
