#include "console/app/ui/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QMenuBar>
#include <QUrl>

#include "console/app/ui/PlainText.h"
#include "console/app/ui/Translation.h"
#include "console/app/ui/UiImages.h"
#include "console/app/ui/WebAddress.h"
#include "console/service/ConsoleConfig.h"
#include "core/Deployment.h"

namespace velmora::console {

namespace {

void setTwinsEnabled(QAction& item, QAction& twin, bool enabled) {
    item.setEnabled(enabled);
    twin.setEnabled(enabled);
}

void prepareTable(QTableView& table) {
    table.setSelectionBehavior(QAbstractItemView::SelectRows);
    table.setSelectionMode(QAbstractItemView::SingleSelection);
    table.setEditTriggers(QAbstractItemView::NoEditTriggers);
    table.setShowGrid(false);
    table.setAlternatingRowColors(true);
    table.setWordWrap(false);
    table.verticalHeader()->hide();
    table.horizontalHeader()->setStretchLastSection(true);
    table.horizontalHeader()->setHighlightSections(false);
}

}  // namespace

MainWindow::MainWindow(Collaborators with, MainWindowCommands commands)
    : shareStateCell_(with.translation),
      onlineCell_(with.translation),
      config_(with.config),
      inetProvider_(with.inetProvider),
      translation_(with.translation),
      commands_(std::move(commands)),
      alert_(*this),
      iconTip_(with.config, with.translation) {
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowIcon(UiImages::icon(QStringLiteral("plane")));
    layOut();
    buildMenus();
    connectCommands();
    reloadView(state_);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        statusItem_ = std::make_unique<QSystemTrayIcon>(UiImages::icon(statusImage_));
        statusItem_->setToolTip(QStringLiteral("Velmora"));
        statusItem_->setContextMenu(&menuStatus);
        connect(statusItem_.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger)
                        raiseWindow();
                });
        statusItem_->show();
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::layOut() {
    usePlainText({&lUserLabel, &lUser, &lDomainLabel, &lDomain, &lSubscriptionLabel, &lSubscription,
                  &lShare, &lForOwners, &lLocalPrinters, &lPrint, &lForUsers, &lRemotePrinters,
                  &lPrinterConfigured, &lStatus});
    QFont heading = lShare.font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.3);
    lShare.setFont(heading);
    lPrint.setFont(heading);
    lUser.setAutoFillBackground(true);
    QPalette yellow = lUser.palette();
    yellow.setColor(QPalette::Window, QColor(255, 255, 170));
    lUser.setPalette(yellow);
    imgSubscription.setPixmap(UiImages::pixmap(QStringLiteral("premium")));
    imgPrinterConfigured.setPixmap(UiImages::pixmap(QStringLiteral("default")));

    tvLocal.setModel(&localModel_);
    tvLocal.setItemDelegateForColumn(LocalPrinterTableModel::kSharing, &shareStateCell_);
    tvRemote.setModel(&remoteModel_);
    tvRemote.setItemDelegateForColumn(RemotePrinterTableModel::kPrinter, &remotePrinterCell_);
    tvRemote.setItemDelegateForColumn(RemotePrinterTableModel::kStatus, &onlineCell_);
    prepareTable(tvLocal);
    prepareTable(tvRemote);
    tvLocal.setColumnWidth(LocalPrinterTableModel::kPrinter, 260);
    tvLocal.setColumnWidth(LocalPrinterTableModel::kSharing, 120);
    tvRemote.setColumnWidth(RemotePrinterTableModel::kPrinter, 260);
    tvRemote.setColumnWidth(RemotePrinterTableModel::kStatus, 120);

    accountLine.addWidget(&lUserLabel);
    accountLine.addWidget(&lUser);
    accountLine.addSpacing(16);
    accountLine.addWidget(&lDomainLabel);
    accountLine.addWidget(&lDomain);
    accountLine.addStretch(1);
    accountLine.addWidget(&lSubscriptionLabel);
    accountLine.addWidget(&imgSubscription);
    accountLine.addWidget(&lSubscription);
    accountLine.addSpacing(12);
    accountLine.addWidget(&btnUpgradeNow);
    shareHeading.addWidget(&lShare);
    shareHeading.addSpacing(10);
    shareHeading.addWidget(&lForOwners, 1);
    localButtons.addWidget(&btnShare);
    localButtons.addWidget(&btnProperties);
    localButtons.addStretch(1);
    localButtons.addWidget(&btnActivity);
    printHeading.addWidget(&lPrint);
    printHeading.addSpacing(10);
    printHeading.addWidget(&lForUsers, 1);
    noteLine.addStretch(1);
    noteLine.addWidget(&imgPrinterConfigured);
    noteLine.addWidget(&lPrinterConfigured);
    remoteButtons.addWidget(&btnFind);
    remoteButtons.addStretch(1);
    remoteButtons.addWidget(&btnSetupRemote);

    layout.setContentsMargins(10, 6, 10, 2);
    layout.addLayout(&accountLine);
    layout.addSpacing(14);
    layout.addLayout(&shareHeading);
    layout.addWidget(&lLocalPrinters);
    layout.addWidget(&tvLocal, 1);
    layout.addLayout(&localButtons);
    layout.addSpacing(10);
    layout.addLayout(&printHeading);
    layout.addWidget(&lRemotePrinters);
    layout.addWidget(&tvRemote, 1);
    layout.addLayout(&noteLine);
    layout.addLayout(&remoteButtons);
    layout.addSpacing(4);
    layout.addWidget(&lStatus);
    view.setLayout(&layout);
    setCentralWidget(&view);
    // The note below the remote table comes with the remote printer setup.
    lPrinterConfigured.hide();
    imgPrinterConfigured.hide();
    resize(640, 560);
}

void MainWindow::buildMenus() {
    menuConsole.setTitle(QStringLiteral("Velmora"));
    menuConsole.addActions({&itmAbout, &itmPreferences, &itmCheckUpdates});
    menuConsole.addSeparator();
    menuConsole.addActions({&itmHide, &itmExit});
    menuPrinter.setTitle(QStringLiteral("Printer"));
    menuPrinter.addActions({&itmShare, &itmUnshare, &itmProperties, &itmActivity});
    menuPrinter.addSeparator();
    menuPrinter.addActions({&itmFind, &itmSetupRemote});
    menuUser.setTitle(QStringLiteral("User"));
    menuUser.addActions({&itmProfile, &itmChangePassword, &itmPermissions});
    menuUser.addSeparator();
    menuUser.addAction(&itmLogout);
    menuHelp.setTitle(QStringLiteral("Help"));
    menuHelp.addActions({&itmOnlineHelp, &itmOpenWebsite});
    for (QMenu* menu : {&menuConsole, &menuPrinter, &menuUser, &menuHelp})
        menuBar()->addMenu(menu);

    // The status item's menu holds the twins.
    menuPrinter2.setTitle(QStringLiteral("Printer"));
    menuPrinter2.addActions({&itmShare2, &itmUnshare2, &itmProperties2, &itmActivity2});
    menuPrinter2.addSeparator();
    menuPrinter2.addActions({&itmFind2, &itmSetupRemote2});
    menuUser2.setTitle(QStringLiteral("User"));
    menuUser2.addActions({&itmProfile2, &itmChangePassword2, &itmPermissions2});
    menuUser2.addSeparator();
    menuUser2.addAction(&itmLogout2);
    menuHelp2.setTitle(QStringLiteral("Help"));
    menuHelp2.addActions({&itmOnlineHelp2, &itmOpenWebsite2, &itmAbout2});
    menuStatus.addAction(&itmShow);
    menuStatus.addSeparator();
    menuStatus.addMenu(&menuPrinter2);
    menuStatus.addMenu(&menuUser2);
    menuStatus.addSeparator();
    menuStatus.addActions({&itmPreferences2, &itmCheckUpdates2});
    menuStatus.addMenu(&menuHelp2);
    menuStatus.addSeparator();
    menuStatus.addAction(&itmExit2);
}

void MainWindow::connectCommands() {
    auto on = [this](auto& sender, auto signal, auto slot) {
        connect(&sender, signal, this, slot);
    };
    on(btnShare, &QPushButton::clicked, [this] { sharePrinter(); });
    for (QAction* item : {&itmShare, &itmShare2, &itmUnshare, &itmUnshare2})
        on(*item, &QAction::triggered, [this] { sharePrinter(); });
    on(btnProperties, &QPushButton::clicked, [this] { printerProperties(); });
    for (QAction* item : {&itmProperties, &itmProperties2})
        on(*item, &QAction::triggered, [this] { printerProperties(); });
    on(tvLocal, &QTableView::doubleClicked, [this] { printerProperties(); });
    on(btnSetupRemote, &QPushButton::clicked, [this] { setupRemotePrinter(); });
    for (QAction* item : {&itmSetupRemote, &itmSetupRemote2})
        on(*item, &QAction::triggered, [this] { setupRemotePrinter(); });
    on(tvRemote, &QTableView::doubleClicked, [this] { setupRemotePrinter(); });
    on(btnUpgradeNow, &QPushButton::clicked, [this] { subscribe(); });

    auto command = [this](std::initializer_list<QObject*> senders,
                          const std::function<void()>* target) {
        for (QObject* sender : senders) {
            auto run = [target] {
                if (*target)
                    (*target)();
            };
            if (auto* button = qobject_cast<QPushButton*>(sender))
                connect(button, &QPushButton::clicked, this, run);
            else
                connect(static_cast<QAction*>(sender), &QAction::triggered, this, run);
        }
    };
    command({&btnActivity, &itmActivity, &itmActivity2}, &commands_.showJobList);
    command({&btnFind, &itmFind, &itmFind2}, &commands_.findPrinter);
    command({&itmPermissions, &itmPermissions2}, &commands_.showPermissions);
    command({&itmPreferences, &itmPreferences2}, &commands_.showPreferences);
    command({&itmProfile, &itmProfile2}, &commands_.updateProfile);
    command({&itmChangePassword, &itmChangePassword2}, &commands_.changePassword);
    command({&itmCheckUpdates, &itmCheckUpdates2}, &commands_.checkUpdates);
    command({&itmLogout, &itmLogout2}, &commands_.logOut);

    for (QAction* item : {&itmAbout, &itmAbout2})
        on(*item, &QAction::triggered, [this] { about(); });
    for (QAction* item : {&itmOpenWebsite, &itmOpenWebsite2})
        on(*item, &QAction::triggered, [this] { openWebPage(QString()); });
    for (QAction* item : {&itmOnlineHelp, &itmOnlineHelp2})
        on(*item, &QAction::triggered, [this] { openWebPage(QStringLiteral("/help")); });
    on(itmShow, &QAction::triggered, [this] { raiseWindow(); });
    on(itmHide, &QAction::triggered, [this] { hide(); });
    for (QAction* item : {&itmExit, &itmExit2})
        on(*item, &QAction::triggered, [] { QCoreApplication::quit(); });

    connect(tvLocal.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::tvLocal_SelectionChanged);
    connect(tvRemote.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::tvRemote_SelectionChanged);
}

void MainWindow::translate() {
    lUserLabel.setText(QStringLiteral("User:"));
    lDomainLabel.setText(QStringLiteral("Server:"));
    lSubscriptionLabel.setText(QStringLiteral("Subscription:"));
    btnUpgradeNow.setText(QStringLiteral("Upgrade now"));
    lShare.setText(QStringLiteral("Share"));
    lForOwners.setText(QStringLiteral("for printer owners"));
    lLocalPrinters.setText(QStringLiteral("Printers of this computer:"));
    btnShare.setText(QStringLiteral("Share"));
    btnProperties.setText(QStringLiteral("Properties"));
    btnActivity.setText(QStringLiteral("Activity"));
    lPrint.setText(QStringLiteral("Print"));
    lForUsers.setText(QStringLiteral("for printer users"));
    lRemotePrinters.setText(QStringLiteral("Remote printers of your list:"));
    btnFind.setText(QStringLiteral("Find printer"));
    btnSetupRemote.setText(QStringLiteral("Configure"));
    lPrinterConfigured.setText(QStringLiteral("Printer is not configured"));
    const std::pair<QAction*, const char*> designed[] = {
        {&itmShow, "Show"},
        {&itmHide, "Hide"},
        {&itmExit, "Quit"},
        {&itmActivity, "Activity"},
        {&itmShare, "Share"},
        {&itmUnshare, "Unshare"},
        {&itmProperties, "Properties"},
        {&itmFind, "Add printer"},
        {&itmSetupRemote, "Configure remote printer"},
        {&itmProfile, "My profile"},
        {&itmChangePassword, "Change password"},
        {&itmPermissions, "Permissions"},
        {&itmLogout, "Log out"},
        {&itmAbout, "About Velmora"},
        {&itmOpenWebsite, "Web site"},
        {&itmOnlineHelp, "Online help"},
        {&itmPreferences, "Preferences"},
        {&itmCheckUpdates, "Check for updates"},
    };
    for (const auto& [item, label] : designed)
        item->setText(QString::fromUtf8(label));
    for (auto [item, twin] : {std::pair{&itmExit, &itmExit2},
                              {&itmActivity, &itmActivity2},
                              {&itmShare, &itmShare2},
                              {&itmUnshare, &itmUnshare2},
                              {&itmProperties, &itmProperties2},
                              {&itmFind, &itmFind2},
                              {&itmSetupRemote, &itmSetupRemote2},
                              {&itmProfile, &itmProfile2},
                              {&itmChangePassword, &itmChangePassword2},
                              {&itmPermissions, &itmPermissions2},
                              {&itmLogout, &itmLogout2},
                              {&itmAbout, &itmAbout2},
                              {&itmOpenWebsite, &itmOpenWebsite2},
                              {&itmOnlineHelp, &itmOnlineHelp2},
                              {&itmPreferences, &itmPreferences2},
                              {&itmCheckUpdates, &itmCheckUpdates2}})
        twin->setText(item->text());

    translation_.group({{&lUserLabel, "User"},
                        {&lSubscriptionLabel, "Subscription"},
                        {&lShare, "H1Share"},
                        {&lForOwners, "ForOwners"},
                        {&lLocalPrinters, "LocalPrinters"},
                        {&btnProperties, "Properties"},
                        {&btnActivity, "Activity"},
                        {&lPrint, "H1Print"},
                        {&lForUsers, "ForUsers"},
                        {&lRemotePrinters, "RemotePrinters"},
                        {&btnFind, "FindPrinter"}},
                       "HTML");
    const std::pair<int, const char*> localColumns[] = {
        {LocalPrinterTableModel::kPrinter, "Printer"},
        {LocalPrinterTableModel::kSharing, "Sharing"},
        {LocalPrinterTableModel::kStatus, "Status"}};
    for (const auto& [column, key] : localColumns)
        translation_.control(TableColumn{&localModel_, column}, "HTML", key);
    const std::pair<int, const char*> remoteColumns[] = {
        {RemotePrinterTableModel::kPrinter, "Printer"},
        {RemotePrinterTableModel::kStatus, "Status"},
        {RemotePrinterTableModel::kOwner, "Owner"}};
    for (const auto& [column, key] : remoteColumns)
        translation_.control(TableColumn{&remoteModel_, column}, "HTML", key);
    translation_.group({{&btnSetupRemote, "Configure"},
                        {&lPrinterConfigured, "NotConfigured"},
                        {&itmSetupRemote, "Configure"}},
                       "Mac.MainFrm");
    translation_.group({{&itmActivity, "Activity"},
                        {&itmActivity2, "Activity"},
                        {&itmHide, "Hide"},
                        {&itmShow, "Show"},
                        {menuUser.menuAction(), "User"},
                        {menuUser2.menuAction(), "User"},
                        {&itmProfile, "MyProfile"},
                        {&itmProfile2, "MyProfile"},
                        {&itmChangePassword, "ChangePassword"},
                        {&itmChangePassword2, "ChangePassword"},
                        {&itmPermissions, "Permissions"},
                        {&itmPermissions2, "Permissions"},
                        {&itmLogout, "Logout"},
                        {&itmLogout2, "Logout"},
                        {menuPrinter.menuAction(), "Printer"},
                        {menuPrinter2.menuAction(), "Printer"},
                        {&itmExit, "Exit"},
                        {&itmExit2, "Exit"},
                        {&itmShare, "Share"},
                        {&itmShare2, "Share"},
                        {&itmUnshare, "Unshare"},
                        {&itmUnshare2, "Unshare"},
                        {&itmProperties, "Properties"},
                        {&itmProperties2, "Properties"},
                        {&itmFind, "AddPrinter"},
                        {&itmFind2, "AddPrinter"},
                        {&itmAbout, "About"},
                        {&itmAbout2, "About"},
                        {&itmOpenWebsite, "Web"},
                        {&itmOpenWebsite2, "Web"},
                        {menuHelp.menuAction(), "Help"},
                        {menuHelp2.menuAction(), "Help"},
                        {&itmOnlineHelp, "OnlineHelp"},
                        {&itmOnlineHelp2, "OnlineHelp"},
                        {&itmPreferences, "Settings"},
                        {&itmPreferences2, "Settings"},
                        {&itmCheckUpdates, "UpgradeCheck"},
                        {&itmCheckUpdates2, "UpgradeCheck"}},
                       "MainMenu");
}

QString MainWindow::text(const char* section, const char* key, const char* deflt) const {
    return translation_.qtext(section, key, deflt);
}

void MainWindow::showAlertSheet(const std::string& title, const std::string& message) {
    // A sheet needs its window on screen, or nobody would ever see it.
    show();
    alert_.show(QString::fromStdString(title), QString::fromStdString(message),
                text("Common", "OK", "OK"));
}

void MainWindow::showChoiceSheet(const ChoiceSheet& sheet, std::function<void(bool)> done) {
    show();
    alert_.showChoice(QString::fromStdString(sheet.title), QString::fromStdString(sheet.message),
                      QString::fromStdString(sheet.defaultButton),
                      QString::fromStdString(sheet.alternateButton), std::move(done));
}

void MainWindow::showStatusMessage(const std::string& title, const std::string& text,
                                   double interval, int messageType) {
    iconTip_.showStatusMessage(QString::fromStdString(title), QString::fromStdString(text),
                               interval, messageType);
}

void MainWindow::showLoginDialog() {
    if (!login_) {
        login_ =
            std::make_unique<LoginController>(*this, config_, inetProvider_, translation_, this);
    } else {
        login_->initDialog();
    }
    login_->show();
    login_->raise();
    login_->activateWindow();
    updateCommands();
}

void MainWindow::loginControllerOk() {
    if (commands_.loginControllerOk)
        commands_.loginControllerOk();
}

void MainWindow::closeSecondaryWindows() {
    if (login_)
        login_->hide();
    if (commands_.closeSecondaryWindows)
        commands_.closeSecondaryWindows();
}

void MainWindow::addPermissionForPerson(const Person& person) {
    if (commands_.addPermissionForPerson)
        commands_.addPermissionForPerson(person);
}

void MainWindow::setStatusText(const std::string& text) {
    lStatus.setText(QString::fromStdString(text));
    // Drawn now: the blocking call that usually follows keeps the event loop away.
    lStatus.repaint();
}

void MainWindow::raiseWindow() {
    show();
    raise();
    activateWindow();
    if (login_ && login_->isVisible()) {
        login_->raise();
        login_->activateWindow();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing the window leaves the console running; Quit ends it.
    hide();
    event->ignore();
}

void MainWindow::reloadView(const MainViewState& state) {
    // The translation is loaded at start-up after the window exists; its first refresh follows.
    if (translation_.revision() != translatedRevision_) {
        translatedRevision_ = translation_.revision();
        translate();
    }
    const std::optional<LocalPrinterRow> local = selectedLocalPrinter();
    const std::optional<RemotePrinterRow> remote = selectedRemotePrinter();
    state_ = state;
    localModel_.setRows(state.localPrinters);
    remoteModel_.setRows(state.remotePrinters);
    if (local)
        select(tvLocal, localModel_.rowOf(local->localTitle));
    if (remote)
        select(tvRemote, remoteModel_.rowOf(remote->publicId));

    for (QWidget* control : {static_cast<QWidget*>(&lUserLabel), static_cast<QWidget*>(&lUser),
                             static_cast<QWidget*>(&lDomainLabel), static_cast<QWidget*>(&lDomain)})
        control->setVisible(state.active);
    lUser.setText(QString::fromStdString(state.user));
    lDomain.setText(QString::fromStdString(state.domain));
    showAccount();
    if (!state.active) {
        setStatusImage(QStringLiteral("planeX"));
        btnActivity.setIcon(QIcon());
        btnActivity.setDefault(false);
    } else if (state.newJobs) {
        setStatusImage(QStringLiteral("planeT"));
        btnActivity.setIcon(UiImages::icon(QStringLiteral("planeT")));
        btnActivity.setDefault(true);
    } else {
        setStatusImage(QStringLiteral("plane"));
        btnActivity.setIcon(QIcon());
        btnActivity.setDefault(false);
    }
    updateCommands();
    if (commands_.listsReloaded)
        commands_.listsReloaded();
}

void MainWindow::showAccount() {
    const bool active = state_.active;
    const auto account = active ? state_.account : MainViewState::Account::Hidden;
    lSubscriptionLabel.setVisible(account == MainViewState::Account::PageLimit);
    lSubscription.setVisible(account != MainViewState::Account::Hidden);
    imgSubscription.setVisible(account == MainViewState::Account::Premium);
    btnUpgradeNow.setVisible(account == MainViewState::Account::PageLimit);
    if (account == MainViewState::Account::Premium) {
        lSubscription.setText(text("HTML", "Premium", "Premium"));
    } else if (account == MainViewState::Account::PageLimit) {
        lSubscriptionLabel.setText(
            Translation::format(QStringLiteral("%@:"), {text("HTML", "PageLimit", "Page limit")}));
        lSubscription.setText(QString::number(state_.freePages));
    }
}

void MainWindow::setStatusImage(const QString& name) {
    statusImage_ = name;
    if (statusItem_)
        statusItem_->setIcon(UiImages::icon(name));
}

void MainWindow::updateCommands() {
    const bool active = state_.active;
    auto available = [](const auto& command) { return static_cast<bool>(command); };

    btnActivity.setEnabled(active && available(commands_.showJobList));
    setTwinsEnabled(itmActivity, itmActivity2, btnActivity.isEnabled());
    btnFind.setEnabled(active && available(commands_.findPrinter));
    setTwinsEnabled(itmFind, itmFind2, btnFind.isEnabled());
    btnUpgradeNow.setEnabled(active);
    setTwinsEnabled(itmProfile, itmProfile2, active && available(commands_.updateProfile));
    setTwinsEnabled(itmChangePassword, itmChangePassword2,
                    active && available(commands_.changePassword));
    setTwinsEnabled(itmPermissions, itmPermissions2,
                    active && available(commands_.showPermissions));
    setTwinsEnabled(itmLogout, itmLogout2, active && available(commands_.logOut));
    setTwinsEnabled(itmPreferences, itmPreferences2, available(commands_.showPreferences));
    setTwinsEnabled(itmCheckUpdates, itmCheckUpdates2, available(commands_.checkUpdates));
    tvLocal_SelectionChanged();
    tvRemote_SelectionChanged();
}

bool MainWindow::signedIn() const {
    // Read again at every use: signing out empties the token after the last refresh.
    return state_.hasToken && !config_.token().empty();
}

void MainWindow::tvLocal_SelectionChanged() {
    const bool signedIn = this->signedIn();
    const std::optional<LocalPrinterRow> printer = selectedLocalPrinter();
    const bool canShare = printer && signedIn && static_cast<bool>(commands_.sharePrinter);
    const bool shared = printer && printer->shared;
    btnShare.setEnabled(canShare);
    btnShare.setText(shared ? text("HTML", "Unshare", "Unshare") : text("HTML", "Share", "Share"));
    btnProperties.setEnabled(printer && signedIn && static_cast<bool>(commands_.printerProperties));
    setTwinsEnabled(itmProperties, itmProperties2, btnProperties.isEnabled());
    setTwinsEnabled(itmShare, itmShare2, canShare && !shared);
    setTwinsEnabled(itmUnshare, itmUnshare2, canShare && shared);
}

void MainWindow::tvRemote_SelectionChanged() {
    const bool enabled = signedIn() && selectedRemotePrinter().has_value() &&
                         static_cast<bool>(commands_.setupRemotePrinter);
    btnSetupRemote.setEnabled(enabled);
    setTwinsEnabled(itmSetupRemote, itmSetupRemote2, enabled);
}

std::optional<LocalPrinterRow> MainWindow::selectedLocalPrinter() const {
    const QModelIndexList rows = tvLocal.selectionModel()->selectedRows();
    if (rows.size() != 1 || rows.front().row() >= static_cast<int>(localModel_.rows().size()))
        return std::nullopt;
    return localModel_.rows()[static_cast<size_t>(rows.front().row())];
}

std::optional<RemotePrinterRow> MainWindow::selectedRemotePrinter() const {
    const QModelIndexList rows = tvRemote.selectionModel()->selectedRows();
    if (rows.size() != 1 || rows.front().row() >= static_cast<int>(remoteModel_.rows().size()))
        return std::nullopt;
    return remoteModel_.rows()[static_cast<size_t>(rows.front().row())];
}

void MainWindow::select(QTableView& table, int row) {
    if (row >= 0)
        table.selectRow(row);
}

void MainWindow::sharePrinter() {
    tvLocal_SelectionChanged();
    const std::optional<LocalPrinterRow> printer = selectedLocalPrinter();
    if (printer && btnShare.isEnabled())
        commands_.sharePrinter(printer->localTitle);
}

void MainWindow::printerProperties() {
    tvLocal_SelectionChanged();
    const std::optional<LocalPrinterRow> printer = selectedLocalPrinter();
    if (printer && btnProperties.isEnabled())
        commands_.printerProperties(printer->localTitle);
}

void MainWindow::setupRemotePrinter() {
    tvRemote_SelectionChanged();
    const std::optional<RemotePrinterRow> printer = selectedRemotePrinter();
    if (!printer || !btnSetupRemote.isEnabled())
        return;
    if (!commands_.setupRemotePrinter(printer->publicId))
        return;
    if (commands_.openRemoteSetup)
        commands_.openRemoteSetup(printer->publicId);
    else
        alert_.show(QStringLiteral("Remote printer setup is not available in this version."),
                    QString(), text("Common", "OK", "OK"));
}

void MainWindow::subscribe() {
    WebAddress::open(config_.buyMoreUrl());
}

void MainWindow::openWebPage(const QString& path) {
    WebAddress::open(std::string(deployment::kWebSite) + path.toStdString());
}

void MainWindow::about() {
    alert_.show(QStringLiteral("Velmora ") + QCoreApplication::applicationVersion(),
                QStringLiteral("Remote printing for this computer's printers and the printers "
                               "other users share."),
                text("Common", "OK", "OK"));
}

}  // namespace velmora::console
