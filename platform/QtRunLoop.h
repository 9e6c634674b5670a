#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

#include "platform/RunLoop.h"

namespace velmora {

// The run loop of the thread that creates it, on Qt's event loop (the console's main thread).
// It stops when the application is about to quit, when stop() is called, or when it is
// destroyed; callers blocked in postAndWait() are then released.
class QtRunLoop : public RunLoop {
  public:
    QtRunLoop();
    ~QtRunLoop() override;

    void stop();

  protected:
    bool isLoopThread() const override;
    void enqueue(Task task) override;
    void enqueueAfter(std::chrono::milliseconds delay, Task task) override;

  private:
    // Lives in the loop's thread; queued calls and timers are delivered to it.
    std::unique_ptr<QObject> receiver_;
    QMetaObject::Connection quitConnection_;
};

}  // namespace velmora
