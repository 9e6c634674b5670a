#pragma once

#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <map>
#include <string>
#include <vector>

#include "console/app/ui/AlertSheet.h"
#include "console/app/ui/DeleteLater.h"
#include "console/app/ui/EmailSheetController.h"

namespace velmora {
class PrinterGroup;
}

namespace velmora::console {

class ConsoleConfig;
class ConsoleInetProvider;
class LoginControllerDelegate;
class Translation;

// The sign-in dialog: login and password, the server (hidden until asked for), sign-up and the
// password reminder through the e-mail sheet, and quitting. Service calls block the main thread,
// as every sign-in call of the console does.
class LoginController : public QDialog {
    Q_OBJECT

  public:
    LoginController(LoginControllerDelegate& delegate, ConsoleConfig& config,
                    ConsoleInetProvider& inetProvider, const Translation& translation,
                    QWidget* parent = nullptr);
    ~LoginController() override;

    // Refills the login and the server list from the settings; the password stays.
    void initDialog();
    void fillProfileLogin();
    void fillServersCombo();
    void storeServers();
    bool serverOptionsShown() const { return !cmServer.isHidden(); }

    void disclosureTrianglePressed();
    void btnOk_Clicked();
    void btnRegister_Clicked();
    void btnRemindPassword_Clicked();

    // The open e-mail sheet, or null; it exists only while shown.
    EmailSheetController* emailSheet() const { return emailSheetController_.get(); }
    // The open alert, or null.
    QMessageBox* alertBox() const { return alert_.box(); }
    QString sEmail() const { return sEmail_; }

    QGridLayout layout;
    QLabel lLogin;
    QLineEdit eLogin;
    QLabel lPassword;
    QLineEdit ePassword;
    QLabel lServer;
    QToolButton disclosureTriangle;
    QComboBox cmServer;
    QLabel lCantLogin;
    QPushButton btnRegister;
    QLabel lRegister;
    QPushButton btnRemindPassword;
    QLabel lRemindPassword;
    QPushButton btnOk;
    QPushButton btnExit;

    // More servers than anyone remembers; a larger stored list is cut here.
    static constexpr int kMaxServers = 100;

  private:
    enum class SheetOperation { Register, RemindPassword };

    void translate();
    void layOut();
    void openEmailSheet(SheetOperation operation);
    void sheetDidEnd(int returnCode);
    void login();
    void userRegister();
    void remindPassword();
    // The endpoint of the server in cmServer, or false after showing why there is none.
    bool typedEndpoint(std::string& endpoint);
    void signedIn(const std::string& endpoint);
    void showAlert(const QString& title);

    LoginControllerDelegate& delegate_;
    ConsoleConfig& config_;
    ConsoleInetProvider& inetProvider_;
    const Translation& translation_;
    AlertSheet alert_;
    LaterPtr<EmailSheetController> emailSheetController_;
    SheetOperation sheetOperation_ = SheetOperation::Register;
    QString sEmail_;
    // A sign-up asks for no group in this dialog.
    int groupId_ = 0;
    // One pending sign-in however often OK is clicked before it starts.
    QTimer loginTimer_;
};

}  // namespace velmora::console
