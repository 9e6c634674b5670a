#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace velmora {

// The thread that owns the shared model objects, seen from other threads: work is handed to it
// and runs there, in the order posted. Once the loop has stopped nothing posted runs any more,
// and a caller waiting for its work gets false instead of blocking for ever. The loop object
// itself outlives every thread that posts to it (the application context owns both and joins
// its threads first).
class RunLoop {
  public:
    using Task = std::function<void()>;

    RunLoop();
    virtual ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Queues `task`; false, dropping it, once the loop has stopped.
    bool post(Task task);
    // Runs `task` on the loop and returns when it has finished. Called on the loop's own thread
    // it runs the task at once. False, without running the task, when the loop stops (or has
    // stopped) before the task started; a task that has started always finishes first.
    bool postAndWait(Task task);
    // Queues `task` to run after `seconds` (negative or NaN: at once; very long delays are cut
    // to kMaxDelay). False once the loop has stopped.
    bool postAfter(double seconds, Task task);

    bool isStopped() const;

    // The longest delay postAfter() keeps (timers of the event loop count in int milliseconds).
    static constexpr std::chrono::milliseconds kMaxDelay{std::chrono::hours(24 * 24)};
    // Seconds as a delay, clamped to [0, kMaxDelay].
    static std::chrono::milliseconds delayFromSeconds(double seconds);

  protected:
    virtual bool isLoopThread() const = 0;
    // Hands the task to the loop; it may be dropped when the loop is ending.
    virtual void enqueue(Task task) = 0;
    virtual void enqueueAfter(std::chrono::milliseconds delay, Task task) = 0;
    // Called by the implementation when its loop ends: nothing queued runs any more and every
    // waiting caller is released.
    void markStopped();

  private:
    struct Shared;
    struct Wait;
    Task guarded(Task task) const;

    std::shared_ptr<Shared> shared_;
};

}  // namespace velmora
