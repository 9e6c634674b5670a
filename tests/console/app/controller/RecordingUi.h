#pragma once

#include <functional>
#include <string>
#include <vector>

#include "console/app/MainViewUi.h"

namespace velmora::test {

// A front end that keeps what the controller asked of it, so a test can read it back and answer
// sheets the way a user would.
class RecordingUi : public console::MainViewUi {
  public:
    struct Alert {
        std::string title;
        std::string message;
    };
    struct Sheet {
        console::ChoiceSheet sheet;
        std::function<void(bool)> done;
    };
    struct Notice {
        std::string title;
        std::string text;
        double interval;
        int messageType;
    };

    void showAlertSheet(const std::string& title, const std::string& message) override {
        alerts.push_back({title, message});
    }
    void showChoiceSheet(const console::ChoiceSheet& sheet,
                         std::function<void(bool)> done) override {
        sheets.push_back({sheet, std::move(done)});
    }
    void showStatusMessage(const std::string& title, const std::string& text, double interval,
                           int messageType) override {
        notices.push_back({title, text, interval, messageType});
    }
    void showLoginDialog() override { ++loginDialogs; }
    void closeSecondaryWindows() override { ++closedSecondaryWindows; }
    void setStatusText(const std::string& text) override { statusTexts.push_back(text); }
    void reloadView(const console::MainViewState& state) override { views.push_back(state); }
    void raiseWindow() override { ++raised; }
    void showUpdateWindow(const console::UpdateOffer& offer) override {
        updateWindows.push_back(offer);
    }

    // Ends the latest sheet as if its default (true) or other button was clicked.
    void answerSheet(bool defaultButton) {
        auto done = std::move(sheets.back().done);
        done(defaultButton);
    }
    std::vector<Notice> noticesOfType(int messageType) const {
        std::vector<Notice> found;
        for (const Notice& notice : notices) {
            if (notice.messageType == messageType)
                found.push_back(notice);
        }
        return found;
    }

    std::vector<Alert> alerts;
    std::vector<Sheet> sheets;
    std::vector<Notice> notices;
    std::vector<std::string> statusTexts;
    std::vector<console::MainViewState> views;
    int loginDialogs = 0;
    int closedSecondaryWindows = 0;
    int raised = 0;
    std::vector<console::UpdateOffer> updateWindows;
};

}  // namespace velmora::test
