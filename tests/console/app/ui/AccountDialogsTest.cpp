#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QtTest/QTest>

#include <memory>
#include <string>
#include <vector>

#include "console/app/ui/ChangePasswordController.h"
#include "console/app/ui/ProfileController.h"
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
#include "tests/console/app/ui/Screenshot.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/SeededService.h"

namespace velmora::console {
namespace {

using test::RefServiceProcess;
using test::ScratchDirectory;
using test::SeededService;

constexpr const char* kSeed = R"({
    "accounts": [{"login": "carol", "password": "carol-pw", "token": "tok-carol", "id": 3,
                  "mail": "carol@example.test", "nick": "Caz"},
                 {"login": "bob", "password": "bob-pw", "token": "tok-bob", "id": 2,
                  "mail": "bob@example.test"}]})";

using test::NoDispatch;

// The profile and password windows of a signed-in carol, against the reference service.
class AccountDialogsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        service_ = std::make_unique<SeededService>("velmora-account-dialogs", kSeed);
    }
    static void TearDownTestSuite() { service_.reset(); }

    void SetUp() override {
        service_->post("/_ref/reset", "");
        config_.setService(service_->serviceUrl());
        config_.setToken("tok-carol");
        const std::vector<std::string> carol = {
            "carol@example.test", "carol", "Caz", "", "", "", "", "", "", ""};
        for (int index = 0; index < Person::kPropertyCount; ++index)
            user_.setProperty(index, carol[static_cast<size_t>(index)]);
    }

    // carol's account as the service now holds it.
    static RefServiceProcess::Tree carolAtService() {
        const RefServiceProcess::Tree state = service_->state();
        for (const auto& [unused, account] : state.get_child("accounts"))
            if (account.get<std::string>("login") == "carol")
                return account;
        throw std::runtime_error("carol is gone");
    }
    static QString alertTitle(AlertSheet& alert) {
        QMessageBox* box = alert.box();
        return box != nullptr && box->isVisible() ? box->text() : QString();
    }
    std::unique_ptr<ProfileController> openProfile() {
        auto dialog = std::make_unique<ProfileController>(user_, provider_, translation_,
                                                          [this] { ++profileOk_; });
        dialog->show();
        return dialog;
    }
    std::unique_ptr<ChangePasswordController> openPassword() {
        auto dialog =
            std::make_unique<ChangePasswordController>(config_, user_, provider_, translation_);
        dialog->show();
        return dialog;
    }
    static void typeInto(QLineEdit& field, const QString& text) {
        field.clear();
        QTest::keyClicks(&field, text);
    }

    static inline std::unique_ptr<SeededService> service_;

    ScratchDirectory profile_{"velmora-account-profile"};
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
    int profileOk_ = 0;
};

TEST_F(AccountDialogsTest, AProfileChangeReachesTheServiceAsTyped) {
    auto dialog = openProfile();
    EXPECT_EQ(dialog->eEmail.text(), QStringLiteral("carol@example.test"));
    EXPECT_EQ(dialog->lUserId.text(), QStringLiteral("carol"));
    EXPECT_EQ(dialog->eNick.text(), QStringLiteral("Caz"));
    // Capitals pass the address rule and are kept as typed.
    typeInto(dialog->eEmail, QStringLiteral("Carol.New@Example.test"));
    typeInto(dialog->eName, QStringLiteral("Carol <b>\"Quote\"</b>"));
    typeInto(dialog->eCity, QStringLiteral("Brno"));
    typeInto(dialog->eZip, QStringLiteral("60200"));
    QTest::mouseClick(&dialog->btnOk, Qt::LeftButton);
    EXPECT_EQ(profileOk_, 1);
    EXPECT_FALSE(dialog->isVisible());
    const auto carol = carolAtService();
    EXPECT_EQ(carol.get<std::string>("mail"), "Carol.New@Example.test");
    EXPECT_EQ(carol.get<std::string>("props.name"), "Carol <b>\"Quote\"</b>");
    EXPECT_EQ(carol.get<std::string>("props.city"), "Brno");
    EXPECT_EQ(carol.get<std::string>("props.zip"), "60200");
    EXPECT_EQ(carol.get<std::string>("login"), "carol");
}

TEST_F(AccountDialogsTest, AnInvalidOrRefusedProfileKeepsTheWindowOpen) {
    auto dialog = openProfile();
    typeInto(dialog->eEmail, QStringLiteral("carol@localhost"));
    QTest::mouseClick(&dialog->btnOk, Qt::LeftButton);
    EXPECT_EQ(alertTitle(dialog->alert()), QStringLiteral("Invalid email address"));
    EXPECT_EQ(carolAtService().get<std::string>("mail"), "carol@example.test");

    // Another account's address: the service's reason is shown.
    typeInto(dialog->eEmail, QStringLiteral("bob@example.test"));
    QTest::mouseClick(&dialog->btnOk, Qt::LeftButton);
    EXPECT_EQ(alertTitle(dialog->alert()), QStringLiteral("Invalid or taken e-mail address"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(profileOk_, 0);
}

TEST_F(AccountDialogsTest, EachProfileFieldTakesNoMoreThanItsLimitAndAnOverlongPasteNothing) {
    auto dialog = openProfile();
    for (int index = 0; index < Person::kPropertyCount; ++index) {
        QLineEdit* field = dialog->field(index);
        if (field == nullptr)
            continue;
        const int limit = ProfileController::kMaxLengths[static_cast<size_t>(index)];
        field->clear();
        field->insert(QString(limit, QLatin1Char('a')));
        EXPECT_EQ(field->text().size(), limit) << index;
        QTest::keyClick(field, Qt::Key_B);
        EXPECT_EQ(field->text(), QString(limit, QLatin1Char('a'))) << index;

        field->setText(QStringLiteral("kept"));
        field->end(false);
        QApplication::clipboard()->setText(QString(limit, QLatin1Char('x')));
        field->paste();
        EXPECT_EQ(field->text(), QStringLiteral("kept")) << index;
    }
}

TEST_F(AccountDialogsTest, PasswordChecksComeInOrderBeforeTheService) {
    struct Case {
        QString oldPassword, new1, new2;
        QString alert;
    };
    const std::vector<Case> cases = {
        // The mismatch is reported, not the length.
        {QStringLiteral("carol-pw"), QStringLiteral("abc"), QStringLiteral("abd"),
         QStringLiteral("Passwords dont match")},
        {QStringLiteral("carol-pw"), QStringLiteral("abcde"), QStringLiteral("abcde"),
         QStringLiteral("Password is too short. Minimum length is 6 characters.")},
        {QStringLiteral("sixsix"), QStringLiteral("sixsix"), QStringLiteral("sixsix"),
         QStringLiteral("New password is same as old one.")},
        {QStringLiteral("wrong-pw"), QStringLiteral("newer-pw"), QStringLiteral("newer-pw"),
         QStringLiteral("Incorrect password")},
    };
    for (const Case& c : cases) {
        auto dialog = openPassword();
        typeInto(dialog->eOldPassword, c.oldPassword);
        typeInto(dialog->eNewPassword1, c.new1);
        typeInto(dialog->eNewPassword2, c.new2);
        QTest::mouseClick(&dialog->btnOk, Qt::LeftButton);
        EXPECT_EQ(alertTitle(dialog->alert()), c.alert);
        EXPECT_TRUE(dialog->isVisible());
    }
    EXPECT_EQ(carolAtService().get<std::string>("password"), "carol-pw");
    EXPECT_EQ(config_.token(), "tok-carol");
}

TEST_F(AccountDialogsTest, ANewPasswordIsSetAtTheServiceAndTheNewTokenSaved) {
    auto dialog = openPassword();
    typeInto(dialog->eOldPassword, QStringLiteral("carol-pw"));
    typeInto(dialog->eNewPassword1, QStringLiteral("it's \"new\" <pw>"));
    // Return in a field presses OK.
    typeInto(dialog->eNewPassword2, QStringLiteral("it's \"new\" <pw>"));
    QTest::keyClick(&dialog->eNewPassword2, Qt::Key_Return);
    EXPECT_EQ(alertTitle(dialog->alert()), QString());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(carolAtService().get<std::string>("password"), "it's \"new\" <pw>");
    EXPECT_NE(config_.token(), "tok-carol");
    EXPECT_FALSE(config_.token().empty());
    // The token is in the setup file, not only in memory.
    ConsoleConfig reread(profile_.path());
    std::string error;
    std::string setup;
    for (const auto& file : std::filesystem::directory_iterator(profile_.path()))
        if (file.path().filename().string().rfind("setup.", 0) == 0)
            setup = ScratchDirectory::readFile(file.path());
    ASSERT_TRUE(reread.loadSetupText(setup, error)) << error;
    EXPECT_EQ(reread.token(), config_.token());
    // Reopened, the fields are empty again.
    dialog->initDialog();
    EXPECT_TRUE(dialog->eOldPassword.text().isEmpty());
}

TEST_F(AccountDialogsTest, ForgotPasswordMailsTheProfilesAddress) {
    auto dialog = openPassword();
    QTest::mouseClick(&dialog->btnRemind, Qt::LeftButton);
    EXPECT_EQ(alertTitle(dialog->alert()), QStringLiteral("Password was sent to your email"));
    const RefServiceProcess::Tree state = service_->state();
    const auto& reminders = state.get_child("reminders");
    ASSERT_EQ(reminders.size(), 1u);
    EXPECT_EQ(reminders.begin()->second.get<std::string>("mail"), "carol@example.test");

    user_.setProperty(0, "nobody@example.test");
    QTest::mouseClick(&dialog->btnRemind, Qt::LeftButton);
    EXPECT_EQ(alertTitle(dialog->alert()), QStringLiteral("No account uses this e-mail address"));
}

TEST_F(AccountDialogsTest, Screenshots) {
    auto profile = openProfile();
    test::saveScreenshot(*profile, "profile-dialog");
    auto password = openPassword();
    test::saveScreenshot(*password, "change-password-dialog");
}

}  // namespace
}  // namespace velmora::console
