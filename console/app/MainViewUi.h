#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velmora {
class Person;
}

namespace velmora::console {

// One row of the local printer table, as plain text: titles are shown as text, never markup.
struct LocalPrinterRow {
    std::string localTitle;  // the print system's queue name; identifies the printer
    std::string publicId;
    std::string title;  // control characters removed
    bool shared = false;
    std::string status;  // translated "Idle", "Processing", "Paused" or "Error"
};

// One row of the remote printer table.
struct RemotePrinterRow {
    std::string publicId;  // identifies the printer
    std::string title;     // control characters removed
    bool online = false;
    std::string owner;       // the owner's nick, with " (my)" for the signed-in user's own printers
    bool isDefault = false;  // the account's default printer, known by its id
};

// Everything the main window shows after a refresh; the window draws it, the headless console
// logs what matters of it.
struct MainViewState {
    enum class Account { Hidden, Premium, PageLimit };

    bool active = false;    // signed in; commands that need the service are enabled
    bool hasToken = false;  // a session token is stored: selection commands may be enabled
    std::string user;       // mail, else nick, else login
    std::string domain;     // host of the service address
    Account account = Account::Hidden;
    int freePages = -1;    // shown with Account::PageLimit
    bool newJobs = false;  // the "new jobs" icon and the activity button as default
    std::vector<LocalPrinterRow> localPrinters;
    std::vector<RemotePrinterRow> remotePrinters;  // the filtered list actually shown
};

// A sheet with two buttons; `defaultButton` is the one a headless console chooses.
struct ChoiceSheet {
    enum class Kind { LoginFailed, FastCheckFailed, IncompatiblePrinter };

    Kind kind;
    std::string title;
    std::string message;
    std::string defaultButton;
    std::string alternateButton;
};

// What the main controller asks of its front end: the Qt Widgets window, or the log of a
// headless console. Called on the main thread only.
class MainViewUi {
  public:
    virtual ~MainViewUi() = default;

    // An error or notice with one button; nothing happens when it is closed.
    virtual void showAlertSheet(const std::string& title, const std::string& message) = 0;
    // `done` runs once, with true for the default button and false for any other ending.
    virtual void showChoiceSheet(const ChoiceSheet& sheet,
                                 std::function<void(bool defaultButton)> done) = 0;
    // The status pop-up; `interval` seconds before it fades (0 or less: it stays).
    virtual void showStatusMessage(const std::string& title, const std::string& text,
                                   double interval, int messageType) = 0;
    virtual void showLoginDialog() = 0;
    virtual void closeSecondaryWindows() = 0;
    // The one-line status text; shown at once, since a blocking call usually follows.
    virtual void setStatusText(const std::string& text) = 0;
    virtual void reloadView(const MainViewState& state) = 0;
    // A second start of the console, or the application reopened: bring the window forward.
    virtual void raiseWindow() = 0;
    // Opens the permissions with a rule for that person; a console without a window has none.
    virtual void addPermissionForPerson(const Person& person) { (void)person; }
};

}  // namespace velmora::console
