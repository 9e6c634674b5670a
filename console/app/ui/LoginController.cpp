#include "console/app/ui/LoginController.h"

#include <QCoreApplication>
#include <QTimer>

#include "console/app/ui/LoginControllerDelegate.h"
#include "console/app/ui/PlainText.h"
#include "console/app/ui/ServerAddress.h"
#include "console/app/ui/Translation.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/model/PrinterGroup.h"
#include "core/xml/XmlHelpers.h"

namespace velmora::console {

LoginController::LoginController(LoginControllerDelegate& delegate, ConsoleConfig& config,
                                 ConsoleInetProvider& inetProvider, const Translation& translation,
                                 QWidget* parent)
    : QDialog(parent),
      delegate_(delegate),
      config_(config),
      inetProvider_(inetProvider),
      translation_(translation),
      alert_(*this) {
    layOut();
    translate();
    cmServer.hide();
    initDialog();
}

LoginController::~LoginController() = default;

void LoginController::layOut() {
    usePlainText({&lLogin, &lPassword, &lServer, &lCantLogin, &lRegister, &lRemindPassword});
    for (QLabel* label : {&lCantLogin, &lRegister, &lRemindPassword})
        label->setWordWrap(true);
    ePassword.setEchoMode(QLineEdit::Password);
    cmServer.setEditable(true);
    cmServer.setInsertPolicy(QComboBox::NoInsert);
    disclosureTriangle.setArrowType(Qt::RightArrow);
    disclosureTriangle.setAutoRaise(true);

    layout.addWidget(&lLogin, 0, 0);
    layout.addWidget(&eLogin, 0, 1, 1, 2);
    layout.addWidget(&lPassword, 1, 0);
    layout.addWidget(&ePassword, 1, 1, 1, 2);
    layout.addWidget(&disclosureTriangle, 2, 0, Qt::AlignRight);
    layout.addWidget(&lServer, 2, 1, 1, 2);
    layout.addWidget(&cmServer, 3, 1, 1, 2);
    layout.addWidget(&lCantLogin, 4, 0, 1, 3);
    layout.addWidget(&btnRegister, 5, 0);
    layout.addWidget(&lRegister, 5, 1, 1, 2);
    layout.addWidget(&btnRemindPassword, 6, 0);
    layout.addWidget(&lRemindPassword, 6, 1, 1, 2);
    layout.addWidget(&btnExit, 7, 1, Qt::AlignRight);
    layout.addWidget(&btnOk, 7, 2);
    layout.setColumnStretch(1, 1);
    setLayout(&layout);
    setMinimumWidth(420);

    btnOk.setDefault(true);
    loginTimer_.setSingleShot(true);
    connect(&loginTimer_, &QTimer::timeout, this, &LoginController::login);
    connect(&btnOk, &QPushButton::clicked, this, &LoginController::btnOk_Clicked);
    connect(&btnExit, &QPushButton::clicked, this, [] { QCoreApplication::quit(); });
    connect(&btnRegister, &QPushButton::clicked, this, &LoginController::btnRegister_Clicked);
    connect(&btnRemindPassword, &QPushButton::clicked, this,
            &LoginController::btnRemindPassword_Clicked);
    connect(&disclosureTriangle, &QToolButton::clicked, this,
            &LoginController::disclosureTrianglePressed);
}

void LoginController::translate() {
    setWindowTitle(QStringLiteral("Sign in"));
    lLogin.setText(QStringLiteral("E-mail:"));
    lPassword.setText(QStringLiteral("Password:"));
    lServer.setText(QStringLiteral("Server options"));
    lCantLogin.setText(QStringLiteral("Can't sign in?"));
    btnRegister.setText(QStringLiteral("Sign up"));
    lRegister.setText(QStringLiteral("Create a new account with your e-mail address."));
    btnRemindPassword.setText(QStringLiteral("Remind"));
    lRemindPassword.setText(QStringLiteral("Have your password sent to your e-mail address."));
    btnOk.setText(QStringLiteral("OK"));
    btnExit.setText(QStringLiteral("Exit"));
    translation_.group({{this, "Caption"},
                        {&lLogin, "Mail"},
                        {&lPassword, "Password"},
                        {&lServer, "Options"},
                        {&lCantLogin, "Cant"},
                        {&btnRegister, "Register"},
                        {&lRegister, "RegisterIntro"},
                        {&btnRemindPassword, "Remind"},
                        {&lRemindPassword, "RemindIntro"}},
                       "LoginDlg");
    translation_.group({{&btnOk, "OK"}, {&btnExit, "Exit"}}, "Common");
}

void LoginController::initDialog() {
    fillProfileLogin();
    fillServersCombo();
}

void LoginController::fillProfileLogin() {
    const QString lastEmail = QString::fromStdString(config_.lastEmail());
    if (lastEmail.isEmpty())
        return;
    eLogin.setText(lastEmail);
    ePassword.setFocus();
}

void LoginController::fillServersCombo() {
    cmServer.clear();
    const QStringList parts =
        QString::fromStdString(config_.servers()).split(u',', Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (cmServer.count() >= kMaxServers)
            break;
        cmServer.addItem(part);
    }
    const QString current = ServerAddress::ofService(QString::fromStdString(config_.service()));
    if (current.isEmpty())
        return;
    int index = cmServer.findText(current, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) {
        cmServer.addItem(current);
        index = cmServer.count() - 1;
    }
    cmServer.setCurrentIndex(index);
}

void LoginController::storeServers() {
    QStringList items;
    for (int i = 0; i < cmServer.count(); ++i)
        items.append(cmServer.itemText(i));
    config_.setServers(items.join(u',').toStdString());
}

void LoginController::disclosureTrianglePressed() {
    const bool show = cmServer.isHidden();
    cmServer.setVisible(show);
    disclosureTriangle.setArrowType(show ? Qt::DownArrow : Qt::RightArrow);
    adjustSize();
}

void LoginController::btnOk_Clicked() {
    // Lets the click finish drawing before the call blocks.
    loginTimer_.start(10);
}

void LoginController::btnRegister_Clicked() {
    openEmailSheet(SheetOperation::Register);
}

void LoginController::btnRemindPassword_Clicked() {
    openEmailSheet(SheetOperation::RemindPassword);
}

void LoginController::openEmailSheet(SheetOperation operation) {
    if (emailSheetController_)
        return;
    sheetOperation_ = operation;
    emailSheetController_.reset(
        new EmailSheetController(operation == SheetOperation::Register, translation_, *this));
    connect(emailSheetController_.get(), &QDialog::finished, this, &LoginController::sheetDidEnd);
    emailSheetController_->open();
}

void LoginController::sheetDidEnd(int returnCode) {
    sEmail_ = emailSheetController_->eEmail();
    emailSheetController_->disconnect(this);
    emailSheetController_.reset();
    if (returnCode != QDialog::Accepted)
        return;
    if (sheetOperation_ == SheetOperation::Register)
        userRegister();
    else
        remindPassword();
}

bool LoginController::typedEndpoint(std::string& endpoint) {
    QString address;
    QString error;
    if (!ServerAddress::fromTyped(cmServer.currentText(), address, error)) {
        showAlert(error);
        return false;
    }
    endpoint = ServerAddress::endpoint(address).toStdString();
    return true;
}

void LoginController::login() {
    std::string endpoint;
    if (!typedEndpoint(endpoint))
        return;
    std::string error;
    if (!inetProvider_.login(eLogin.text().toStdString(), ePassword.text().toStdString(), endpoint,
                             error)) {
        showAlert(QString::fromStdString(error));
        return;
    }
    signedIn(endpoint);
}

void LoginController::userRegister() {
    std::string endpoint;
    if (!typedEndpoint(endpoint))
        return;
    std::vector<PrinterGroup> groups;
    std::map<std::string, std::string> properties;
    std::string error;
    if (!inetProvider_.getServerConfig(endpoint, groups, properties, error)) {
        showAlert(QString::fromStdString(error));
        return;
    }
    auto allowed = properties.find("allow-registration");
    if (allowed == properties.end() || !boolFromText(allowed->second)) {
        showAlert(
            QStringLiteral("Server doesn't allow registration. Please contact server admin."));
        return;
    }
    if (!inetProvider_.userRegister(sEmail_.toStdString(), endpoint, groupId_, error)) {
        showAlert(QString::fromStdString(error));
        return;
    }
    signedIn(endpoint);
}

void LoginController::remindPassword() {
    std::string endpoint;
    if (!typedEndpoint(endpoint))
        return;
    std::string error;
    if (!inetProvider_.passwordReminder(sEmail_.toStdString(), endpoint, error))
        showAlert(QString::fromStdString(error));
}

void LoginController::signedIn(const std::string& endpoint) {
    config_.setService(endpoint);
    storeServers();
    accept();
    delegate_.loginControllerOk();
}

void LoginController::showAlert(const QString& title) {
    alert_.show(title, QString(), translation_.qtext("Common", "OK", "OK"));
}

}  // namespace velmora::console
