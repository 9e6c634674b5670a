#pragma once

#include <algorithm>
#include <chrono>

namespace velmora::console {

// The pause before a retry nobody asked for: it doubles with every failure in a row, up to a
// ceiling, and starts small again after a success.
class RetryPause {
  public:
    using Seconds = std::chrono::duration<double>;

    explicit RetryPause(Seconds first = Seconds(5), Seconds longest = Seconds(300))
        : first_(first), longest_(std::max(first, longest)), next_(first) {}

    // The pause to wait now; the following one is twice as long.
    Seconds next() {
        const Seconds pause = next_;
        next_ = std::min(next_ * 2, longest_);
        return pause;
    }
    void reset() { next_ = first_; }
    // A failure came since the last reset.
    bool grown() const { return next_ != first_; }
    Seconds peek() const { return next_; }

  private:
    Seconds first_;
    Seconds longest_;
    Seconds next_;
};

}  // namespace velmora::console
