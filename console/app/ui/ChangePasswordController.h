#pragma once

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/MaxLenFormatter.h"

namespace velmora {
class Person;
}

namespace velmora::console {

class ConsoleConfig;
class ConsoleInetProvider;
class Translation;

// Changes the account's password at the service (the new session token is saved), or has the
// service mail a reminder to the profile's address.
class ChangePasswordController : public QDialog {
    Q_OBJECT

  public:
    ChangePasswordController(ConsoleConfig& config, Person& currentUser,
                             ConsoleInetProvider& inetProvider, const Translation& translation,
                             QWidget* parent = nullptr);

    // Empties the three fields.
    void initDialog();
    void btnOk_Clicked();
    void btnRemind_Clicked();

    QGridLayout layout;
    QLabel lOldPasswordLabel;
    QLineEdit eOldPassword;
    QLabel lNewPassword1Label;
    QLineEdit eNewPassword1;
    QLabel lNewPassword2Label;
    QLineEdit eNewPassword2;
    QPushButton btnRemind;
    QPushButton btnOk;
    QPushButton btnCancel;

    AlertSheet& alert() { return alert_; }

    static constexpr int kMaxPasswordLength = 256;
    static constexpr int kMinPasswordLength = 6;

  private:
    void translate();
    void showAlert(const QString& title);

    ConsoleConfig& config_;
    Person& currentUser_;
    ConsoleInetProvider& inetProvider_;
    const Translation& translation_;
    MaxLenFormatter limit_{kMaxPasswordLength};
    AlertSheet alert_;
};

}  // namespace velmora::console
