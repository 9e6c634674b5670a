#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "platform/PlainRunLoop.h"

namespace velmora {
namespace {

using std::chrono::milliseconds;

// A loop running on a thread of its own, as the console's main thread runs for its workers.
class PlainRunLoopTest : public ::testing::Test {
  protected:
    void startLoop() {
        thread_ = std::thread([this] {
            loopThreadId_ = std::this_thread::get_id();
            loop_.run();
        });
        // The loop is running once a posted task has come back.
        ASSERT_TRUE(loop_.postAndWait([] {}));
    }
    ~PlainRunLoopTest() override {
        loop_.stop();
        if (thread_.joinable())
            thread_.join();
    }

    PlainRunLoop loop_;
    std::thread thread_;
    std::thread::id loopThreadId_;
};

TEST_F(PlainRunLoopTest, TasksRunOnTheLoopThreadInTheOrderPosted) {
    startLoop();
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(loop_.post([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        }));
    }
    ASSERT_TRUE(loop_.postAndWait([] {}));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    for (std::thread::id id : threads)
        EXPECT_EQ(id, loopThreadId_);
}

TEST_F(PlainRunLoopTest, PostAndWaitReturnsAfterTheTaskAndSeesItsResult) {
    startLoop();
    int result = 0;
    ASSERT_TRUE(loop_.postAndWait([&] {
        std::this_thread::sleep_for(milliseconds(20));
        result = 42;
    }));
    EXPECT_EQ(result, 42);
}

TEST_F(PlainRunLoopTest, PostAndWaitOnTheLoopThreadRunsAtOnceInsteadOfDeadlocking) {
    startLoop();
    bool inner = false;
    bool innerOk = false;
    ASSERT_TRUE(loop_.postAndWait([&] { innerOk = loop_.postAndWait([&] { inner = true; }); }));
    EXPECT_TRUE(innerOk);
    EXPECT_TRUE(inner);
}

TEST_F(PlainRunLoopTest, DelayedTasksRunByDeadlineNotByPostingOrder) {
    startLoop();
    std::vector<int> order;
    std::promise<void> done;
    ASSERT_TRUE(loop_.postAfter(0.08, [&] {
        order.push_back(2);
        done.set_value();
    }));
    ASSERT_TRUE(loop_.postAfter(0.02, [&] { order.push_back(1); }));
    ASSERT_TRUE(loop_.post([&] { order.push_back(0); }));
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST_F(PlainRunLoopTest, AfterStopNothingIsAcceptedOrRun) {
    startLoop();
    loop_.stop();
    thread_.join();
    std::atomic<int> ran{0};
    EXPECT_FALSE(loop_.post([&] { ++ran; }));
    EXPECT_FALSE(loop_.postAfter(0, [&] { ++ran; }));
    EXPECT_FALSE(loop_.postAndWait([&] { ++ran; }));
    EXPECT_TRUE(loop_.isStopped());
    EXPECT_EQ(ran, 0);
}

// The fault this guards against: a worker handing a result to a main thread that has quit
// would block for ever, and the process would never exit.
TEST_F(PlainRunLoopTest, StopReleasesACallerWaitingBehindABusyLoop) {
    startLoop();
    std::promise<void> busy;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    ASSERT_TRUE(loop_.post([&] {
        busy.set_value();
        released.wait();
    }));
    busy.get_future().wait();

    std::atomic<bool> queuedTaskRan{false};
    auto waiter = std::async(std::launch::async,
                             [&] { return loop_.postAndWait([&] { queuedTaskRan = true; }); });
    EXPECT_EQ(waiter.wait_for(milliseconds(100)), std::future_status::timeout);
    loop_.stop();
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(waiter.get());
    release.set_value();
    thread_.join();
    EXPECT_FALSE(queuedTaskRan);
}

TEST_F(PlainRunLoopTest, AWaitingCallerWhoseTaskStartedGetsItsResultEvenIfTheLoopStops) {
    startLoop();
    std::promise<void> started;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    int result = 0;
    auto waiter = std::async(std::launch::async, [&] {
        return loop_.postAndWait([&] {
            started.set_value();
            released.wait();
            result = 7;
        });
    });
    started.get_future().wait();
    loop_.stop();
    release.set_value();
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(waiter.get());
    EXPECT_EQ(result, 7);
}

// What a task holds may post on its way out (a session that reports its end, a reply that
// hands back its buffer). If the loop destroyed tasks while holding its own lock, that post
// would wait for the lock on the very thread that holds it, and the loop would hang for good.
class PostsWhenDestroyed {
  public:
    PostsWhenDestroyed(RunLoop& loop, std::promise<bool>& posted) : loop_(loop), posted_(posted) {}
    ~PostsWhenDestroyed() {
        posted_.set_value(loop_.post([] {}));
    }
    PostsWhenDestroyed(const PostsWhenDestroyed&) = delete;
    PostsWhenDestroyed& operator=(const PostsWhenDestroyed&) = delete;

  private:
    RunLoop& loop_;
    std::promise<bool>& posted_;
};

TEST(PlainRunLoopTaskStateTest, WhatATaskHoldsMayPostWhenItIsDestroyed) {
    enum class Ending { kAfterRunning, kDroppedByStop };
    for (Ending ending : {Ending::kAfterRunning, Ending::kDroppedByStop}) {
        SCOPED_TRACE(ending == Ending::kAfterRunning ? "after running" : "dropped by stop");
        // A hung loop is left behind (released), not destroyed under its threads.
        auto owner = std::make_unique<PlainRunLoop>();
        PlainRunLoop* loop = owner.get();
        std::thread thread([loop] { loop->run(); });
        ASSERT_TRUE(loop->postAndWait([] {}));

        auto release = std::make_shared<std::promise<void>>();
        std::shared_future<void> released = release->get_future().share();
        if (ending == Ending::kDroppedByStop) {
            ASSERT_TRUE(loop->post([released] { released.wait(); }));
        }
        auto posted = std::make_unique<std::promise<bool>>();
        std::future<bool> postedResult = posted->get_future();
        ASSERT_TRUE(loop->post([holder = std::make_shared<PostsWhenDestroyed>(*loop, *posted)] {}));
        auto stopped = std::make_shared<std::promise<void>>();
        std::future<void> stoppedResult = stopped->get_future();
        std::thread stopper;
        if (ending == Ending::kDroppedByStop) {
            stopper = std::thread([loop, stopped] {
                loop->stop();
                stopped->set_value();
            });
        } else {
            stopped->set_value();
        }

        const bool finished =
            postedResult.wait_for(std::chrono::seconds(10)) == std::future_status::ready &&
            stoppedResult.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        release->set_value();
        if (!finished) {
            thread.detach();
            if (stopper.joinable())
                stopper.detach();
            (void)owner.release();
            (void)posted.release();
            FAIL() << "the loop hung while a task's state was destroyed";
        }
        EXPECT_EQ(postedResult.get(), ending == Ending::kAfterRunning);
        loop->stop();
        thread.join();
        if (stopper.joinable())
            stopper.join();
    }
}

// A loop that says when a task has been handed to it.
class AnnouncingRunLoop : public PlainRunLoop {
  public:
    explicit AnnouncingRunLoop(std::promise<void>& queued) : queued_(queued) {}

  protected:
    void enqueue(Task task) override {
        PlainRunLoop::enqueue(std::move(task));
        queued_.set_value();
    }

  private:
    std::promise<void>& queued_;
};

// A caller still waiting when the loop object goes away is released with false, and from then
// on touches nothing of the object.
TEST(PlainRunLoopDestructionTest, ACallerWaitingWhileTheLoopIsDestroyedIsReleased) {
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        std::promise<void> queued;
        auto loop = std::make_unique<AnnouncingRunLoop>(queued);
        RunLoop* target = loop.get();
        bool ran = false;
        auto waiter = std::async(std::launch::async, [target, &ran] {
            return target->postAndWait([&ran] { ran = true; });
        });
        queued.get_future().wait();
        loop.reset();
        ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_FALSE(waiter.get());
        EXPECT_FALSE(ran);
    }
}

TEST(RunLoopDelayTest, SecondsBecomeABoundedDelay) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const struct {
        double seconds;
        milliseconds expected;
    } cases[] = {
        {-5, milliseconds(0)},
        {0, milliseconds(0)},
        {kNaN, milliseconds(0)},
        {-kInfinity, milliseconds(0)},
        {0.0001, milliseconds(1)},
        {10, milliseconds(10000)},
        {2147483647.0, RunLoop::kMaxDelay},
        {1e300, RunLoop::kMaxDelay},
        {kInfinity, RunLoop::kMaxDelay},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunLoop::delayFromSeconds(c.seconds), c.expected) << c.seconds;
    EXPECT_LE(RunLoop::kMaxDelay.count(), std::numeric_limits<int>::max());
}

}  // namespace
}  // namespace velmora
