#include "console/app/controller/HeadlessUi.h"

#include <algorithm>

#include "core/Deployment.h"
#include "platform/RunLoop.h"

namespace velmora::console {

HeadlessUi::HeadlessUi(RunLoop& mainLoop, RetryPause pause)
    : mainLoop_(mainLoop),
      pause_(pause),
      logger_(std::string(deployment::kLogSubsystem), "headless") {}

void HeadlessUi::serviceReached() {
    if (pause_.grown())
        logger_.notice("The service answers again");
    pause_.reset();
}

void HeadlessUi::showAlertSheet(const std::string& title, const std::string& message) {
    if (message.empty())
        logger_.notice("Alert: {}", title);
    else
        logger_.notice("Alert: {}: {}", title, message);
}

void HeadlessUi::showChoiceSheet(const ChoiceSheet& sheet,
                                 std::function<void(bool defaultButton)> done) {
    if (sheet.kind == ChoiceSheet::Kind::UpdateOffer) {
        logger_.notice("{}", sheet.title);
        done(false);
        return;
    }
    const double seconds = pause_.next().count();
    logger_.error("{}: {}; choosing \"{}\" in {} s", sheet.title, sheet.message,
                  sheet.defaultButton, seconds);
    // A refused sign-in is tried again with the token the setup file holds by then, so a
    // token renewed meanwhile (by the window or an administrator) is the one used.
    if (sheet.kind == ChoiceSheet::Kind::LoginFailed && signInRetry_) {
        mainLoop_.postAfter(seconds, [this] { signInRetry_(); });
        return;
    }
    mainLoop_.postAfter(seconds, [done = std::move(done)] { done(true); });
}

void HeadlessUi::showStatusMessage(const std::string& title, const std::string& text, double,
                                   int messageType) {
    const char* kind = messageType == 1 ? "Delivery result" : "Notice";
    if (title.empty())
        logger_.notice("{}: {}", kind, text);
    else
        logger_.notice("{}: {}: {}", kind, title, text);
}

void HeadlessUi::showLoginDialog() {
    const double seconds = pause_.next().count();
    logger_.error(
        "Not signed in and no window to sign in with: sign in once with the window; the setup "
        "file's token is read again in {} s",
        seconds);
    mainLoop_.postAfter(seconds, [this] {
        if (signInRetry_)
            signInRetry_();
    });
}

void HeadlessUi::setStatusText(const std::string& text) {
    if (!text.empty())
        logger_.info("{}", text);
}

// Logged when it changes, not at every refresh.
void HeadlessUi::reloadView(const MainViewState& state) {
    std::string summary;
    if (state.active) {
        const auto shared = std::count_if(state.localPrinters.begin(), state.localPrinters.end(),
                                          [](const LocalPrinterRow& row) { return row.shared; });
        summary = fmt::format(
            "Signed in as {} at {}: {} local printer(s), {} shared; {} remote printer(s)",
            state.user, state.domain, state.localPrinters.size(), shared,
            state.remotePrinters.size());
    } else {
        summary = "Signed out";
    }
    if (summary == lastSummary_)
        return;
    lastSummary_ = summary;
    logger_.notice("{}", summary);
}

void HeadlessUi::raiseWindow() {
    logger_.notice("Another start of the console: this one runs without a window");
}

}  // namespace velmora::console

namespace velmora::console {

void HeadlessUi::showUpdateWindow(const UpdateOffer& offer) {
    logger_.notice("An update to {} is offered; it is not installed without a window",
                   offer.description);
}

}  // namespace velmora::console
