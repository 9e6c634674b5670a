#include "console/app/ui/LoginController.h"

#include <gtest/gtest.h>

#include <QtTest/QTest>

#include <memory>
#include <string>
#include <vector>

#include "console/app/ui/LoginControllerDelegate.h"
#include "console/app/ui/Translation.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/JobDispatcher.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/model/RemotePrinterArray.h"
#include "tests/console/app/ui/NoDispatch.h"
#include "tests/console/app/ui/QtTestPrinting.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/SeededService.h"

namespace velmora::console {
namespace {

using test::RefServiceProcess;
using test::ScratchDirectory;
using test::SeededService;

constexpr const char* kSeed = R"({
    "server": {"properties": {"allow-registration": "true"}},
    "accounts": [{"login": "carol", "password": "carol-pw", "token": "tok-carol", "id": 3,
                  "mail": "carol@example.test"}]})";
// The same service, refusing sign-ups.
constexpr const char* kClosedSeed = R"({
    "server": {"properties": {"motd": "closed"}},
    "accounts": [{"login": "carol", "password": "carol-pw", "token": "tok-carol", "id": 3,
                  "mail": "carol@example.test"}]})";

class CountingDelegate : public LoginControllerDelegate {
  public:
    void loginControllerOk() override { ++calls; }
    int calls = 0;
};

using test::NoDispatch;

class LoginControllerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        service_ = std::make_unique<SeededService>("velmora-login-dialog", kSeed);
    }
    static void TearDownTestSuite() { service_.reset(); }

    void SetUp() override {
        service_->post("/_ref/reset", "");
        config_.setService(service_->serviceUrl());
        config_.setServers("https://other.example");
        config_.setLastEmail("carol@example.test");
        dialog_ = std::make_unique<LoginController>(delegate_, config_, provider_, translation_);
        dialog_->show();
    }

    std::string serverAddress() const {
        return "http://127.0.0.1:" + std::to_string(service_->port());
    }
    // The operations the service received, in order.
    std::vector<std::string> operations() const {
        std::vector<std::string> names;
        for (const auto& entry : service_->requests("soap"))
            names.push_back(entry.get<std::string>("operation", ""));
        return names;
    }
    // Waits for the dialog's answer: the delegate told, or a new alert.
    void clickAndWait(QPushButton& button) {
        const QMessageBox* before = dialog_->alertBox();
        QTest::mouseClick(&button, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return delegate_.calls > 0 ||
                       (dialog_->alertBox() != nullptr && dialog_->alertBox() != before);
            },
            30000));
    }
    void signIn(const QString& password, const QString& server) {
        dialog_->ePassword.setText(password);
        dialog_->cmServer.setEditText(server);
        clickAndWait(dialog_->btnOk);
    }
    QString alertTitle() const {
        return dialog_->alertBox() != nullptr ? dialog_->alertBox()->text() : QString();
    }
    // Nothing of a failed attempt was kept.
    void expectNothingStored() const {
        EXPECT_EQ(delegate_.calls, 0);
        EXPECT_EQ(config_.token(), "");
        EXPECT_EQ(config_.service(), service_->serviceUrl());
        EXPECT_EQ(config_.servers(), "https://other.example");
        EXPECT_TRUE(dialog_->isVisible());
    }
    EmailSheetController& openSheet(QPushButton& button) {
        QTest::mouseClick(&button, Qt::LeftButton);
        EmailSheetController* sheet = dialog_->emailSheet();
        if (sheet == nullptr)
            throw std::runtime_error("no e-mail sheet");
        return *sheet;
    }

    static inline std::unique_ptr<SeededService> service_;

    ScratchDirectory profile_{"velmora-login-profile"};
    ConsoleConfig config_{profile_.path()};
    Person user_;
    PermissionArray permissions_;
    RemotePrinterArray remotePrinters_;
    LocalPrinterArray localPrinters_;
    NoDispatch dispatcher_;
    JobArray jobs_{dispatcher_, {[this] { return profile_.path(); }, [] {}}};
    Translation translation_{config_};
    ConsoleInetProvider provider_{
        config_, user_, {permissions_, remotePrinters_, localPrinters_, jobs_}, translation_};
    CountingDelegate delegate_;
    std::unique_ptr<LoginController> dialog_;
};

TEST_F(LoginControllerTest, OpensWithTheLastLoginAndTheServerOptionsHidden) {
    EXPECT_EQ(dialog_->eLogin.text(), QStringLiteral("carol@example.test"));
    EXPECT_EQ(dialog_->ePassword.echoMode(), QLineEdit::Password);
    EXPECT_FALSE(dialog_->serverOptionsShown());
    QTest::mouseClick(&dialog_->disclosureTriangle, Qt::LeftButton);
    EXPECT_TRUE(dialog_->serverOptionsShown());
    QTest::mouseClick(&dialog_->disclosureTriangle, Qt::LeftButton);
    EXPECT_FALSE(dialog_->serverOptionsShown());
}

TEST_F(LoginControllerTest, RightPasswordStoresServiceAndServersAndTellsTheDelegate) {
    dialog_->eLogin.setText(QStringLiteral("carol"));
    signIn(QStringLiteral("carol-pw"), QString::fromStdString(serverAddress()));
    ASSERT_EQ(alertTitle(), QString());
    EXPECT_EQ(delegate_.calls, 1);
    // A password sign-in starts a session of its own.
    EXPECT_NE(config_.token(), "");
    EXPECT_NE(config_.token(), "tok-carol");
    EXPECT_EQ(config_.service(), serverAddress() + "/tdService.asmx");
    EXPECT_EQ(config_.servers(), "https://other.example," + serverAddress());
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    EXPECT_EQ(operations(), std::vector<std::string>{"Login"});
}

// A double click on OK is one sign-in: a second one would open a session nobody ever ends and
// restart the console's sign-in behind the first.
TEST_F(LoginControllerTest, ADoubleClickOnOkSignsInOnce) {
    dialog_->eLogin.setText(QStringLiteral("carol"));
    dialog_->ePassword.setText(QStringLiteral("carol-pw"));
    dialog_->cmServer.setEditText(QString::fromStdString(serverAddress()));
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    clickAndWait(dialog_->btnOk);
    // Whatever the clicks left queued runs now.
    QTest::qWait(500);
    EXPECT_EQ(delegate_.calls, 1);
    EXPECT_EQ(operations(), std::vector<std::string>{"Login"});
}

TEST_F(LoginControllerTest, WrongPasswordShowsTheServicesErrorAndStoresNothing) {
    dialog_->eLogin.setText(QStringLiteral("carol"));
    signIn(QStringLiteral("wrong"), QString::fromStdString(serverAddress()));
    EXPECT_EQ(alertTitle(), QStringLiteral("Invalid login or password"));
    EXPECT_EQ(dialog_->alertBox()->windowModality(), Qt::WindowModal);
    expectNothingStored();
    // The entries stay for another try.
    EXPECT_EQ(dialog_->eLogin.text(), QStringLiteral("carol"));
    EXPECT_EQ(dialog_->ePassword.text(), QStringLiteral("wrong"));
}

TEST_F(LoginControllerTest, ServerWithoutSchemeIsTriedOverHttpsNeverInClear) {
    dialog_->eLogin.setText(QStringLiteral("carol"));
    // The service speaks plain HTTP only, so an https attempt fails without a request.
    signIn(QStringLiteral("carol-pw"), QStringLiteral("127.0.0.1:%1").arg(service_->port()));
    EXPECT_NE(alertTitle(), QString());
    EXPECT_NE(alertTitle(),
              QStringLiteral("Only http:// and https:// server addresses are supported."));
    EXPECT_TRUE(operations().empty());
    expectNothingStored();
}

TEST_F(LoginControllerTest, OtherSchemesAndCommasAreRefusedBeforeAnyCall) {
    struct Case {
        QString server;
        QString reason;
    };
    const QString port = QString::number(service_->port());
    const std::vector<Case> cases = {
        {QStringLiteral("ftp://127.0.0.1:") + port,
         QStringLiteral("Only http:// and https:// server addresses are supported.")},
        {QStringLiteral("file:///etc/passwd"),
         QStringLiteral("Only http:// and https:// server addresses are supported.")},
        {QStringLiteral("http://127.0.0.1:") + port + QStringLiteral(",https://evil.example"),
         QStringLiteral("A server address cannot contain a comma.")},
        {QStringLiteral("   "), QStringLiteral("Please enter the server address.")},
    };
    dialog_->eLogin.setText(QStringLiteral("carol"));
    for (const Case& c : cases) {
        signIn(QStringLiteral("carol-pw"), c.server);
        EXPECT_EQ(alertTitle(), c.reason) << c.server.toStdString();
        dialog_->alertBox()->close();
    }
    EXPECT_TRUE(operations().empty());
    expectNothingStored();
}

TEST_F(LoginControllerTest, ServerListKeepsNonEmptyPartsAndAddsTheCurrentServer) {
    struct Case {
        std::string servers;
        std::string service;
        QStringList items;
        QString current;
    };
    const std::vector<Case> cases = {
        {"https://a.example,,https://b.example",
         "http://127.0.0.1:8081/tdService.asmx",
         {"https://a.example", "https://b.example", "http://127.0.0.1:8081"},
         "http://127.0.0.1:8081"},
        {"https://a.example,https://b.example",
         "https://b.example/tdService.asmx",
         {"https://a.example", "https://b.example"},
         "https://b.example"},
        {",", "svc.example/tdService.asmx", {"https://svc.example"}, "https://svc.example"},
    };
    for (const Case& c : cases) {
        config_.setServers(c.servers);
        config_.setService(c.service);
        dialog_->initDialog();
        QStringList items;
        for (int i = 0; i < dialog_->cmServer.count(); ++i)
            items.append(dialog_->cmServer.itemText(i));
        EXPECT_EQ(items, c.items) << c.servers;
        EXPECT_EQ(dialog_->cmServer.currentText(), c.current) << c.servers;
    }
}

TEST_F(LoginControllerTest, ATypedServerJoinsTheListOnlyWhenTheDialogIsFilledAgain) {
    config_.setServers("");
    config_.setService("https://old.example/tdService.asmx");
    dialog_->initDialog();
    const std::string typed = "http://localhost:" + std::to_string(service_->port());
    dialog_->eLogin.setText(QStringLiteral("carol"));
    signIn(QStringLiteral("carol-pw"), QString::fromStdString(typed));
    ASSERT_EQ(delegate_.calls, 1) << alertTitle().toStdString();
    EXPECT_EQ(config_.servers(), "https://old.example");
    EXPECT_EQ(config_.service(), typed + "/tdService.asmx");

    dialog_->initDialog();
    ASSERT_EQ(dialog_->cmServer.count(), 2);
    EXPECT_EQ(dialog_->cmServer.itemText(1).toStdString(), typed);
    EXPECT_EQ(dialog_->cmServer.currentIndex(), 1);
}

TEST_F(LoginControllerTest, CancelledOrInvalidEmailSheetCallsNothing) {
    EmailSheetController& sheet = openSheet(dialog_->btnRegister);
    EXPECT_TRUE(sheet.registration());
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
    QTest::keyClicks(&sheet.eEmailField, QStringLiteral("not an address"));
    QTest::mouseClick(&sheet.btnOk, Qt::LeftButton);
    ASSERT_NE(sheet.findChild<QMessageBox*>(), nullptr);
    EXPECT_EQ(sheet.findChild<QMessageBox*>()->text(), QStringLiteral("Invalid email address"));
    EXPECT_EQ(dialog_->emailSheet(), &sheet);

    sheet.eEmailField.setText(QStringLiteral("new@example.test"));
    QTest::mouseClick(&sheet.btnCancel, Qt::LeftButton);
    EXPECT_EQ(dialog_->emailSheet(), nullptr);
    EXPECT_EQ(dialog_->sEmail(), QStringLiteral("new@example.test"));
    QTest::qWait(50);
    EXPECT_TRUE(operations().empty());
    EXPECT_EQ(dialog_->alertBox(), nullptr);
}

TEST_F(LoginControllerTest, SignUpIsRefusedWhenTheServerDoesNotAllowIt) {
    service_->post("/_ref/reset", kClosedSeed);
    EmailSheetController& sheet = openSheet(dialog_->btnRegister);
    sheet.eEmailField.setText(QStringLiteral("New@Example.test"));
    clickAndWait(sheet.btnOk);
    EXPECT_EQ(alertTitle(),
              QStringLiteral("Server doesn't allow registration. Please contact server admin."));
    EXPECT_EQ(operations(), std::vector<std::string>{"GetServerConfig"});
    expectNothingStored();
}

TEST_F(LoginControllerTest, SignUpSignsTheNewAccountIn) {
    EmailSheetController& sheet = openSheet(dialog_->btnRegister);
    sheet.eEmailField.setText(QStringLiteral("new@example.test"));
    clickAndWait(sheet.btnOk);
    ASSERT_EQ(alertTitle(), QString());
    EXPECT_EQ(delegate_.calls, 1);
    EXPECT_NE(config_.token(), "");
    EXPECT_EQ(config_.service(), service_->serviceUrl());
    EXPECT_EQ(operations(), (std::vector<std::string>{"GetServerConfig", "UserRegister"}));
}

TEST_F(LoginControllerTest, PasswordReminderShowsOnlyAFailure) {
    EmailSheetController& known = openSheet(dialog_->btnRemindPassword);
    EXPECT_FALSE(known.registration());
    known.eEmailField.setText(QStringLiteral("carol@example.test"));
    QTest::mouseClick(&known.btnOk, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return operations().size() == 1; }, 30000));
    QTest::qWait(50);
    EXPECT_EQ(dialog_->alertBox(), nullptr);
    EXPECT_EQ(service_->state().get_child("reminders").size(), 1u);

    EmailSheetController& unknown = openSheet(dialog_->btnRemindPassword);
    unknown.eEmailField.setText(QStringLiteral("nobody@example.test"));
    clickAndWait(unknown.btnOk);
    EXPECT_EQ(alertTitle(), QStringLiteral("No account uses this e-mail address"));
    EXPECT_EQ(delegate_.calls, 0);
}

}  // namespace
}  // namespace velmora::console
