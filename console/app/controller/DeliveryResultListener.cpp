#include "console/app/controller/DeliveryResultListener.h"

#include "platform/RunLoop.h"

namespace velmora::console {

DeliveryResultListener::DeliveryResultListener(RunLoop& mainLoop, DeliveryMessageFile file,
                                               Hooks hooks, std::chrono::milliseconds pause)
    : mainLoop_(mainLoop), file_(std::move(file)), hooks_(std::move(hooks)), pause_(pause) {}

DeliveryResultListener::~DeliveryResultListener() {
    stop();
}

void DeliveryResultListener::start() {
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] { run(); });
}

void DeliveryResultListener::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void DeliveryResultListener::run() {
    file_.removeStale();
    do {
        pass();
    } while (sleep());
}

// While results are turned off the file is neither read nor removed.
void DeliveryResultListener::pass() {
    bool enabled = false;
    if (!mainLoop_.postAndWait([&] { enabled = hooks_.enabled(); }) || !enabled)
        return;
    const auto taken = file_.take();
    if (!taken)
        return;
    if (mainLoop_.postAndWait([&] { hooks_.show(taken->text); }))
        file_.remove(*taken);
    else
        file_.putBack(*taken);
}

bool DeliveryResultListener::sleep() {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, pause_, [this] { return stopping_; });
}

}  // namespace velmora::console
