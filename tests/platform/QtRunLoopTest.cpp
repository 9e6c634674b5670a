#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <future>
#include <thread>

#include "platform/QtRunLoop.h"

namespace velmora {
namespace {

// One application object for the whole suite, as in the console.
QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "qt-runloop-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

TEST(QtRunLoopTest, WorkersReachTheMainThreadThroughTheEventLoop) {
    QCoreApplication& app = application();
    QtRunLoop loop;
    const std::thread::id mainThread = std::this_thread::get_id();
    std::thread::id ranOn;
    bool delayedRan = false;
    std::atomic<bool> waitOk{false};

    std::thread worker([&] {
        waitOk = loop.postAndWait([&] { ranOn = std::this_thread::get_id(); });
        loop.postAfter(0.02, [&] {
            delayedRan = true;
            app.quit();
        });
    });
    QTimer::singleShot(std::chrono::seconds(20), &app, [&] { app.quit(); });
    app.exec();
    worker.join();

    EXPECT_TRUE(waitOk);
    EXPECT_EQ(ranOn, mainThread);
    EXPECT_TRUE(delayedRan);
}

TEST(QtRunLoopTest, StoppingReleasesAWorkerTheMainThreadNeverServed) {
    application();
    QtRunLoop loop;
    std::atomic<bool> taskRan{false};
    // The main thread is busy (not in the event loop) while the worker waits on it.
    auto waiter =
        std::async(std::launch::async, [&] { return loop.postAndWait([&] { taskRan = true; }); });
    EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    loop.stop();
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(waiter.get());
    // The queued call is still in Qt's queue; it must not run once its caller has gone.
    QCoreApplication::processEvents();
    EXPECT_FALSE(taskRan);
}

TEST(QtRunLoopTest, TheLoopStopsWhenTheApplicationQuits) {
    QCoreApplication& app = application();
    QtRunLoop loop;
    QTimer::singleShot(0, &app, [&] { app.quit(); });
    app.exec();
    EXPECT_TRUE(loop.isStopped());
    std::atomic<bool> ran{false};
    auto late =
        std::async(std::launch::async, [&] { return loop.postAndWait([&] { ran = true; }); });
    ASSERT_EQ(late.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(late.get());
    EXPECT_FALSE(loop.post([&] { ran = true; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace velmora
