#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "console/app/controller/DeliveryMessageFile.h"

namespace velmora {
class RunLoop;
}

namespace velmora::console {

// The delivery result thread: every few seconds it takes the job sender's result and hands it
// to the main thread to be shown, waiting until it has been, and only then removes it.
class DeliveryResultListener {
  public:
    struct Hooks {
        // Both run on the main thread: whether results are shown at all, and showing one.
        std::function<bool()> enabled;
        std::function<void(const std::string& text)> show;
    };

    DeliveryResultListener(RunLoop& mainLoop, DeliveryMessageFile file, Hooks hooks,
                           std::chrono::milliseconds pause = std::chrono::seconds(5));
    ~DeliveryResultListener();
    DeliveryResultListener(const DeliveryResultListener&) = delete;
    DeliveryResultListener& operator=(const DeliveryResultListener&) = delete;

    // Removes a stale result, then starts the thread.
    void start();
    // Ends and joins the thread. From the main thread only once its run loop has stopped (a
    // thread waiting for it is then released).
    void stop();

  private:
    void run();
    void pass();
    bool sleep();

    RunLoop& mainLoop_;
    DeliveryMessageFile file_;
    Hooks hooks_;
    std::chrono::milliseconds pause_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace velmora::console
