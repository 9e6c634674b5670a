#pragma once

#include <functional>
#include <string>

#include "console/app/MainViewUi.h"
#include "console/app/controller/RetryPause.h"
#include "platform/Logger.h"

namespace velmora {
class RunLoop;
}

namespace velmora::console {

// The front end of a console without a window: what a window would show goes to the log, and
// where a sheet offers to try again, it does so by itself after a pause that grows with every
// failure in a row, so a console on a print server rides out a service that went away. Texts
// from the service are logged as values, never as formats.
class HeadlessUi : public MainViewUi {
  public:
    explicit HeadlessUi(RunLoop& mainLoop, RetryPause pause = RetryPause());

    // Runs when a sign-in without a window is due again, after no token or a refused one (the
    // setup file is read afresh, so a token saved meanwhile by the window or an administrator
    // counts).
    void setSignInRetry(std::function<void()> retry) { signInRetry_ = std::move(retry); }
    // The service answered: the next retry waits the shortest pause again.
    void serviceReached();
    const RetryPause& pause() const { return pause_; }

    void showAlertSheet(const std::string& title, const std::string& message) override;
    void showChoiceSheet(const ChoiceSheet& sheet,
                         std::function<void(bool defaultButton)> done) override;
    void showStatusMessage(const std::string& title, const std::string& text, double interval,
                           int messageType) override;
    void showLoginDialog() override;
    void closeSecondaryWindows() override {}
    void setStatusText(const std::string& text) override;
    void reloadView(const MainViewState& state) override;
    void raiseWindow() override;
    // Nothing is installed without a window: the offer is only logged.
    void showUpdateWindow(const UpdateOffer& offer) override;

  private:
    RunLoop& mainLoop_;
    RetryPause pause_;
    std::function<void()> signInRetry_;
    Logger logger_;
    std::string lastSummary_;
};

}  // namespace velmora::console
