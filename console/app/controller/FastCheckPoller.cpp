#include "console/app/controller/FastCheckPoller.h"

#include "platform/RunLoop.h"

namespace velmora::console {

FastCheckPoller::FastCheckPoller(RunLoop& mainLoop, std::function<void()> fastCheck,
                                 std::function<std::chrono::milliseconds()> pause)
    : mainLoop_(mainLoop), fastCheck_(std::move(fastCheck)), pause_(std::move(pause)) {}

FastCheckPoller::~FastCheckPoller() {
    stop();
}

void FastCheckPoller::start() {
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
}

void FastCheckPoller::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void FastCheckPoller::run() {
    while (mainLoop_.postAndWait(fastCheck_)) {
        const std::chrono::milliseconds pause = pause_();
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, pause, [this] { return stopping_; }))
            return;
    }
}

}  // namespace velmora::console
