#include "platform/QtRunLoop.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace velmora {

QtRunLoop::QtRunLoop() : receiver_(std::make_unique<QObject>()) {
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
    QMetaObject::invokeMethod(receiver_.get(), std::move(task), Qt::QueuedConnection);
}

void QtRunLoop::enqueueAfter(std::chrono::milliseconds delay, Task task) {
    // A timer belongs to the thread that starts it, so it is started on the loop's thread.
    QObject* receiver = receiver_.get();
    QMetaObject::invokeMethod(
        receiver,
        [receiver, delay, task = std::move(task)] { QTimer::singleShot(delay, receiver, task); },
        Qt::QueuedConnection);
}

}  // namespace velmora
