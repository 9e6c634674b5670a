#include "console/app/controller/TerminationSignals.h"

#include <signal.h>
#include <sys/signalfd.h>

#include <QSocketNotifier>

#include "platform/FileIo.h"

namespace velmora::console {

namespace {

sigset_t terminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

void TerminationSignals::blockInThisThread() {
    const sigset_t set = terminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignals::TerminationSignals(std::function<void(int)> quit) : quit_(std::move(quit)) {
    const sigset_t set = terminationSet();
    fd_ = UniqueFd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!fd_)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(fd_.get(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readSignal(); });
}

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::readSignal() {
    signalfd_siginfo info{};
    while (readFully(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        quit_(static_cast<int>(info.ssi_signo));
}

}  // namespace velmora::console
