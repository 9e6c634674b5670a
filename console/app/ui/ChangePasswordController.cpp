#include "console/app/ui/ChangePasswordController.h"

#include "console/app/ui/PlainText.h"
#include "console/app/ui/Translation.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/account/Person.h"

namespace velmora::console {

ChangePasswordController::ChangePasswordController(ConsoleConfig& config, Person& currentUser,
                                                   ConsoleInetProvider& inetProvider,
                                                   const Translation& translation, QWidget* parent)
    : QDialog(parent),
      config_(config),
      currentUser_(currentUser),
      inetProvider_(inetProvider),
      translation_(translation),
      alert_(*this) {
    setObjectName(QStringLiteral("ChangePassword"));
    usePlainText({&lOldPasswordLabel, &lNewPassword1Label, &lNewPassword2Label});
    int row = 0;
    for (auto [label, edit] : {std::pair{&lOldPasswordLabel, &eOldPassword},
                               std::pair{&lNewPassword1Label, &eNewPassword1},
                               std::pair{&lNewPassword2Label, &eNewPassword2}}) {
        edit->setValidator(&limit_);
        edit->setEchoMode(QLineEdit::Password);
        connect(edit, &QLineEdit::returnPressed, this, &ChangePasswordController::btnOk_Clicked);
        layout.addWidget(label, row, 0);
        layout.addWidget(edit, row++, 1, 1, 2);
    }
    layout.addWidget(&btnRemind, row, 0);
    layout.addWidget(&btnCancel, row, 1);
    layout.addWidget(&btnOk, row, 2);
    setLayout(&layout);
    btnOk.setDefault(true);
    connect(&btnOk, &QPushButton::clicked, this, &ChangePasswordController::btnOk_Clicked);
    connect(&btnRemind, &QPushButton::clicked, this, &ChangePasswordController::btnRemind_Clicked);
    connect(&btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    translate();
    initDialog();
}

void ChangePasswordController::translate() {
    setWindowTitle(QStringLiteral("Change Password"));
    lOldPasswordLabel.setText(QStringLiteral("Old password:"));
    lNewPassword1Label.setText(QStringLiteral("New password:"));
    lNewPassword2Label.setText(QStringLiteral("Retype password:"));
    btnRemind.setText(QStringLiteral("Forgot password?"));
    btnOk.setText(QStringLiteral("OK"));
    btnCancel.setText(QStringLiteral("Cancel"));
    translation_.group({{this, "Caption"},
                        {&lOldPasswordLabel, "OldPassword"},
                        {&lNewPassword1Label, "NewPassword"},
                        {&lNewPassword2Label, "RetypePassword"},
                        {&btnRemind, "ForgotPassword"}},
                       "ChangePasswordDlg");
    translation_.group({{&btnOk, "OK"}, {&btnCancel, "Cancel"}}, "Common");
}

void ChangePasswordController::initDialog() {
    eOldPassword.clear();
    eNewPassword1.clear();
    eNewPassword2.clear();
}

void ChangePasswordController::showAlert(const QString& title) {
    alert_.show(title, QString(), translation_.qtext("Common", "OK", "OK"));
}

void ChangePasswordController::btnOk_Clicked() {
    const QString oldPassword = eOldPassword.text();
    const QString newPassword = eNewPassword1.text();
    if (newPassword != eNewPassword2.text()) {
        showAlert(
            translation_.qtext("ChangePasswordDlg", "PasswordsDiffer", "Passwords dont match"));
        return;
    }
    if (newPassword.size() < kMinPasswordLength) {
        showAlert(translation_.qtext("ChangePasswordDlg", "PasswordShort",
                                     "Password is too short. Minimum length is 6 characters."));
        return;
    }
    if (newPassword == oldPassword) {
        showAlert(translation_.qtext("ChangePasswordDlg", "Password=Old",
                                     "New password is same as old one."));
        return;
    }
    std::string error;
    if (!inetProvider_.changePassword(oldPassword.toStdString(), newPassword.toStdString(),
                                      error)) {
        showAlert(QString::fromStdString(error));
        return;
    }
    if (!config_.saveSetup(error)) {
        showAlert(QString::fromStdString(error));
        return;
    }
    accept();
}

void ChangePasswordController::btnRemind_Clicked() {
    std::string error;
    if (!inetProvider_.passwordReminder(currentUser_.getProperty(0), config_.service(), error)) {
        showAlert(QString::fromStdString(error));
        return;
    }
    showAlert(
        translation_.qtext("ChangePasswordDlg", "PasswordSent", "Password was sent to your email"));
}

}  // namespace velmora::console
