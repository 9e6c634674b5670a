#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace velmora {
class RunLoop;
}

namespace velmora::console {

// The polling thread: asks the main thread for one change check and waits for it, then sleeps
// for the pause read afresh, so checks never overlap and a changed interval counts from the
// next sleep on.
class FastCheckPoller {
  public:
    FastCheckPoller(RunLoop& mainLoop, std::function<void()> fastCheck,
                    std::function<std::chrono::milliseconds()> pause);
    ~FastCheckPoller();
    FastCheckPoller(const FastCheckPoller&) = delete;
    FastCheckPoller& operator=(const FastCheckPoller&) = delete;

    void start();
    // Ends and joins the thread. From the main thread only once its run loop has stopped.
    void stop();

  private:
    void run();

    RunLoop& mainLoop_;
    std::function<void()> fastCheck_;
    std::function<std::chrono::milliseconds()> pause_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace velmora::console
