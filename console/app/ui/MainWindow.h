#pragma once

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QVBoxLayout>

#include <memory>
#include <optional>
#include <string>

#include "console/app/MainViewUi.h"
#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/BandedBackground.h"
#include "console/app/ui/IconTipController.h"
#include "console/app/ui/LocalPrinterTableModel.h"
#include "console/app/ui/LoginController.h"
#include "console/app/ui/LoginControllerDelegate.h"
#include "console/app/ui/MainWindowCommands.h"
#include "console/app/ui/PrinterOnlineCell.h"
#include "console/app/ui/RemotePrinterCell.h"
#include "console/app/ui/RemotePrinterTableModel.h"
#include "console/app/ui/ShareStateCell.h"

namespace velmora::console {

class ConsoleConfig;
class ConsoleInetProvider;
class Translation;

// The console's window: who is signed in and the account's pages, the local printers with their
// sharing state, the remote printers of the user's list, the commands as buttons, two menus with
// twin items (the window's and the tray icon's) and the status line. It draws what the main
// controller hands it and passes the commands back; every text in it is plain text.
class MainWindow : public QMainWindow, public MainViewUi, public LoginControllerDelegate {
    Q_OBJECT

  public:
    struct Collaborators {
        ConsoleConfig& config;
        ConsoleInetProvider& inetProvider;
        const Translation& translation;
    };

    MainWindow(Collaborators with, MainWindowCommands commands);
    ~MainWindow() override;

    void showAlertSheet(const std::string& title, const std::string& message) override;
    void showChoiceSheet(const ChoiceSheet& sheet,
                         std::function<void(bool defaultButton)> done) override;
    void showStatusMessage(const std::string& title, const std::string& text, double interval,
                           int messageType) override;
    void showLoginDialog() override;
    void closeSecondaryWindows() override;
    void setStatusText(const std::string& text) override;
    void reloadView(const MainViewState& state) override;
    void raiseWindow() override;
    void addPermissionForPerson(const Person& person) override;
    void loginControllerOk() override;

    const MainViewState& state() const { return state_; }
    LoginController* loginDialog() const { return login_.get(); }
    IconTipController& iconTip() { return iconTip_; }
    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    QMessageBox* alertBox() const { return alert_.box(); }
    // The image the status item shows: "plane", "planeT" or "planeX".
    const QString& statusImage() const { return statusImage_; }
    LocalPrinterTableModel& localModel() { return localModel_; }
    RemotePrinterTableModel& remoteModel() { return remoteModel_; }

    // Models before the views and cells before the tables, so each outlives its user.
    LocalPrinterTableModel localModel_;
    RemotePrinterTableModel remoteModel_;
    ShareStateCell shareStateCell_;
    PrinterOnlineCell onlineCell_;
    RemotePrinterCell remotePrinterCell_;

    BandedBackground view;
    QVBoxLayout layout;
    QHBoxLayout accountLine;
    QHBoxLayout shareHeading;
    QHBoxLayout localButtons;
    QHBoxLayout printHeading;
    QHBoxLayout noteLine;
    QHBoxLayout remoteButtons;

    QLabel lUserLabel, lUser, lDomainLabel, lDomain;
    QLabel lSubscriptionLabel, lSubscription, imgSubscription;
    QPushButton btnUpgradeNow;
    QLabel lShare, lForOwners, lLocalPrinters;
    QTableView tvLocal;
    QPushButton btnShare, btnProperties, btnActivity;
    QLabel lPrint, lForUsers, lRemotePrinters;
    QTableView tvRemote;
    QLabel lPrinterConfigured, imgPrinterConfigured;
    QPushButton btnFind, btnSetupRemote;
    QLabel lStatus;

    QMenu menuConsole, menuPrinter, menuUser, menuHelp;
    QMenu menuStatus, menuPrinter2, menuUser2, menuHelp2;
    QAction itmShow, itmHide, itmExit, itmExit2;
    QAction itmActivity, itmActivity2, itmShare, itmShare2, itmUnshare, itmUnshare2;
    QAction itmProperties, itmProperties2, itmFind, itmFind2, itmSetupRemote, itmSetupRemote2;
    QAction itmProfile, itmProfile2, itmChangePassword, itmChangePassword2;
    QAction itmPermissions, itmPermissions2, itmLogout, itmLogout2;
    QAction itmAbout, itmAbout2, itmOpenWebsite, itmOpenWebsite2, itmOnlineHelp, itmOnlineHelp2;
    QAction itmPreferences, itmPreferences2, itmCheckUpdates, itmCheckUpdates2;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void layOut();
    void buildMenus();
    void connectCommands();
    void translate();
    void showAccount();
    void setStatusImage(const QString& name);
    // A session token is stored: the selection commands may be enabled.
    bool signedIn() const;
    // Enabling of every command from the sign-in state and the selections.
    void updateCommands();
    void tvLocal_SelectionChanged();
    void tvRemote_SelectionChanged();
    std::optional<LocalPrinterRow> selectedLocalPrinter() const;
    std::optional<RemotePrinterRow> selectedRemotePrinter() const;
    void select(QTableView& table, int row);

    void sharePrinter();
    void printerProperties();
    void setupRemotePrinter();
    void subscribe();
    void openWebPage(const QString& path);
    void about();
    QString text(const char* section, const char* key, const char* deflt) const;

    ConsoleConfig& config_;
    ConsoleInetProvider& inetProvider_;
    const Translation& translation_;
    MainWindowCommands commands_;
    MainViewState state_;
    QString statusImage_;
    // The translation's revision the texts were last applied from.
    int translatedRevision_ = -1;
    AlertSheet alert_;
    IconTipController iconTip_;
    std::unique_ptr<LoginController> login_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
};

}  // namespace velmora::console
