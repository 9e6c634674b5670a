#pragma once

#include <functional>
#include <memory>

#include "platform/UniqueFd.h"

class QSocketNotifier;

namespace velmora::console {

// SIGTERM and SIGINT as events of the main loop: they are blocked in every thread and read
// from a signalfd, so the quit runs as ordinary code on the main thread, never inside a signal
// handler.
class TerminationSignals {
  public:
    // Blocks both signals in the calling thread and in every thread it starts later: call it
    // first thing in main(), before any thread exists.
    static void blockInThisThread();

    // `quit` runs on the main loop with the signal's number. Needs the Qt application object.
    explicit TerminationSignals(std::function<void(int)> quit);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool listening() const { return static_cast<bool>(fd_); }

  private:
    void readSignal();

    UniqueFd fd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void(int)> quit_;
};

}  // namespace velmora::console
