#include "platform/QtRunLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>

namespace velmora {

namespace {

// A task travels as a posted event: the event queue owns it from the moment it is posted, and
// it runs and is destroyed on the loop's thread. (A queued functor call would be freed by
// whichever thread drops the last reference, which can be the poster's, after the loop ran it.)
class TaskEvent : public QEvent {
  public:
    explicit TaskEvent(RunLoop::Task task) : QEvent(eventType()), task_(std::move(task)) {}

    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    void run() { task_(); }

  private:
    RunLoop::Task task_;
};

class TaskReceiver : public QObject {
  public:
    bool event(QEvent* event) override {
        if (event->type() != TaskEvent::eventType())
            return QObject::event(event);
        static_cast<TaskEvent*>(event)->run();
        return true;
    }
};

void postTask(QObject* receiver, RunLoop::Task task) {
    // Qt takes the event over and deletes it once delivered, or with the receiver.
    QCoreApplication::postEvent(receiver, std::make_unique<TaskEvent>(std::move(task)).release());
}

}  // namespace

QtRunLoop::QtRunLoop() : receiver_(std::make_unique<TaskReceiver>()) {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        quitConnection_ = QObject::connect(application, &QCoreApplication::aboutToQuit,
                                           receiver_.get(), [this] { stop(); });
    }
}

QtRunLoop::~QtRunLoop() {
    stop();
    QObject::disconnect(quitConnection_);
}

void QtRunLoop::stop() {
    markStopped();
}

bool QtRunLoop::isLoopThread() const {
    return QThread::currentThread() == receiver_->thread();
}

void QtRunLoop::enqueue(Task task) {
    postTask(receiver_.get(), std::move(task));
}

void QtRunLoop::enqueueAfter(std::chrono::milliseconds delay, Task task) {
    // A timer belongs to the thread that starts it, so it is started on the loop's thread.
    QObject* receiver = receiver_.get();
    postTask(receiver, [receiver, delay, task = std::move(task)] {
        QTimer::singleShot(delay, receiver, task);
    });
}

}  // namespace velmora
