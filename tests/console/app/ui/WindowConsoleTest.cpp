// The console with its window, as `velmora` starts it, against the reference service and a
// private scheduler: sign-in through the dialog, sharing from the table, and logging out.
#include <gtest/gtest.h>

#include <QApplication>
#include <QtTest/QTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/app/controller/AppContext.h"
#include "console/app/controller/ConsoleProgram.h"
#include "console/app/ui/JobListController.h"
#include "console/app/ui/MainWindow.h"
#include "console/app/ui/PermissionsController.h"
#include "console/app/ui/SetupRemoteController.h"
#include "tests/console/app/ui/QtTestPrinting.h"
#include "tests/support/PrivateCupsd.h"
#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

using test::RefServiceProcess;
using test::ScratchDirectory;

constexpr const char* kShed = "33333333-4444-5555-6666-777777777777";
constexpr const char* kSeed = R"({
    "accounts": [{"login": "carol", "password": "carol-pw", "id": 3, "nick": "Caz",
                  "mail": "carol@example.test",
                  "favorites": ["33333333-4444-5555-6666-777777777777"]},
                 {"login": "dave", "id": 4}],
    "printers": [{"public_id": "33333333-4444-5555-6666-777777777777", "owner": "dave",
                  "title": "Shed", "shared": true, "online": true, "details": true,
                  "capabilities": {"pack": "true", "enc-type": "AES0", "transport": "bmp"},
                  "papers": [{"name": "A4", "format": "A4", "width": 2100, "height": 2970}]}]})";

class WindowConsoleTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<ScratchDirectory>("velmora-window-console");
        ScratchDirectory::writeFile(*scratch_ / "seed.json", kSeed);
        service_ = std::make_unique<RefServiceProcess>(
            *scratch_ / "seed.json", std::vector<std::string>{}, *scratch_ / "service.log");
        cupsd_ = std::make_unique<test::PrivateCupsd>();
        if (cupsd_->running())
            queueAdded_ =
                cupsd_
                    ->command({"lpadmin", "-p", "Desk", "-E", "-v", "file:///dev/null", "-P",
                               "/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd"})
                    .exitStatus == 0;
    }
    static void TearDownTestSuite() {
        cupsd_.reset();
        service_.reset();
        scratch_.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(cupsd_->running()) << cupsd_->failure();
        ASSERT_TRUE(queueAdded_);
        service_->post("/_ref/reset", "");
        std::filesystem::create_directories(system_.path());
        AppContext::Options options;
        options.systemDir = system_.path();
        options.directPort = 0;
        options.announce = false;
        options.printServer = cupsd_->socketPath();
        QueueChanger::Settings changer;
        changer.lpadmin.server = cupsd_->socketPath();
        changer.lpadmin.systemDir = system_.path();
        options.queueChanger = changer;
        context_ = std::make_unique<AppContext>(options);
        ui_ = ConsoleProgram::windowUiFactory()(*context_);
        window_ = dynamic_cast<MainWindow*>(ui_.get());
        ASSERT_NE(window_, nullptr);
        context_->mainView().attachUi(*ui_);
    }
    void TearDown() override {
        if (context_)
            context_->shutdown();
    }

    void signInThroughTheDialog() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialogShown(); }, 10000));
        LoginController& dialog = *window_->loginDialog();
        QTest::mouseClick(&dialog.disclosureTriangle, Qt::LeftButton);
        dialog.eLogin.setText(QStringLiteral("carol"));
        dialog.ePassword.setText(QStringLiteral("carol-pw"));
        dialog.cmServer.setEditText(
            QString::fromStdString("http://127.0.0.1:" + std::to_string(service_->port())));
        QTest::mouseClick(&dialog.btnOk, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window_->state().active; }, 30000))
            << (dialog.alertBox() ? dialog.alertBox()->text().toStdString() : "no alert");
    }
    bool dialogShown() const {
        return window_->loginDialog() != nullptr && window_->loginDialog()->isVisible();
    }
    bool sharedAtTheService(const std::string& publicId) const {
        const RefServiceProcess::Tree state = service_->state();
        for (const auto& [unused, printer] : state.get_child("printers")) {
            if (printer.get<std::string>("public_id", "") == publicId)
                return printer.get<bool>("shared", false);
        }
        return false;
    }

    static inline std::unique_ptr<ScratchDirectory> scratch_;
    static inline std::unique_ptr<RefServiceProcess> service_;
    static inline std::unique_ptr<test::PrivateCupsd> cupsd_;
    static inline bool queueAdded_ = false;

    ScratchDirectory system_{"velmora-window-system"};
    std::unique_ptr<AppContext> context_;
    std::unique_ptr<MainViewUi> ui_;
    MainWindow* window_ = nullptr;
};

TEST_F(WindowConsoleTest, SignInThroughTheDialogShareFromTheTableAndLogOut) {
    context_->mainView().awakeFromNib();
    signInThroughTheDialog();
    EXPECT_FALSE(dialogShown());
    EXPECT_EQ(window_->lUser.text(), QStringLiteral("carol@example.test"));
    EXPECT_FALSE(window_->lUser.isHidden());
    EXPECT_NE(context_->config().token(), "");

    ASSERT_EQ(window_->localModel().rowCount(), 1);
    EXPECT_EQ(window_->localModel().rows()[0].localTitle, "Desk");
    EXPECT_FALSE(window_->localModel().rows()[0].shared);
    window_->tvLocal.selectRow(0);
    ASSERT_TRUE(window_->btnShare.isEnabled());
    QTest::mouseClick(&window_->btnShare, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->localModel().rows()[0].shared; }, 30000))
        << (window_->alertBox() ? window_->alertBox()->text().toStdString() : "no alert");
    EXPECT_EQ(window_->btnShare.text(), QStringLiteral("Unshare"));
    EXPECT_TRUE(sharedAtTheService(window_->localModel().rows()[0].publicId));

    // The activity button opens the job list once and brings the same window back; its
    // "Check now" polls the service at once.
    ASSERT_TRUE(window_->btnActivity.isEnabled());
    QTest::mouseClick(&window_->btnActivity, Qt::LeftButton);
    const auto jobList = [] {
        std::vector<JobListController*> found;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* list = dynamic_cast<JobListController*>(widget); list && list->isVisible())
                found.push_back(list);
        }
        return found;
    };
    ASSERT_EQ(jobList().size(), 1u);
    JobListController* list = jobList().front();
    EXPECT_EQ(list->model().rowCount(), 0);
    list->hide();
    QTest::mouseClick(&window_->btnActivity, Qt::LeftButton);
    ASSERT_EQ(jobList().size(), 1u);
    EXPECT_EQ(jobList().front(), list);
    const size_t checksBefore = service_->requests("fastcheck").size();
    QTest::mouseClick(&list->btnCheckNow, Qt::LeftButton);
    EXPECT_EQ(service_->requests("fastcheck").size(), checksBefore + 1);

    window_->itmLogout.trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogShown(); }, 10000));
    EXPECT_FALSE(window_->state().active);
    EXPECT_EQ(context_->config().token(), "");
    EXPECT_FALSE(window_->btnShare.isEnabled());
    EXPECT_EQ(window_->statusImage(), QStringLiteral("planeX"));
    EXPECT_FALSE(list->isVisible());
}

TEST_F(WindowConsoleTest, SetupWindowOfARemotePrinterClosesWhenAPollTakesThePrinterAway) {
    context_->mainView().awakeFromNib();
    signInThroughTheDialog();
    ASSERT_EQ(window_->remoteModel().rowCount(), 1);
    window_->tvRemote.selectRow(0);
    ASSERT_TRUE(window_->btnSetupRemote.isEnabled());
    QTest::mouseClick(&window_->btnSetupRemote, Qt::LeftButton);
    SetupRemoteController* setup = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* candidate = qobject_cast<SetupRemoteController*>(widget))
            setup = candidate;
    }
    ASSERT_NE(setup, nullptr);
    EXPECT_TRUE(setup->isVisible());
    EXPECT_EQ(setup->printer(), kShed);

    // The owner stops sharing it; the next poll drops it from the list.
    service_->seed(R"({"printers": [{"public_id": "33333333-4444-5555-6666-777777777777",
                                     "owner": "dave", "shared": false}]})");
    context_->mainView().fastCheck();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->remoteModel().rowCount() == 0; }, 30000));
    EXPECT_FALSE(setup->isVisible());
    // Confirming the closed window now changes nothing.
    setup->btnOk_Clicked();
    EXPECT_EQ(context_->config().defaultPrinterId(), "");
}

TEST_F(WindowConsoleTest, SenderFromTheJobListGetsARuleAndSigningOutClosesThePermissions) {
    context_->mainView().awakeFromNib();
    signInThroughTheDialog();
    Person dave;
    dave.setServerId(4);
    dave.setProperty(Person::kLogin, "dave");
    context_->mainView().showPermissionsWithPerson(dave);
    PermissionsController* permissions = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* candidate = qobject_cast<PermissionsController*>(widget))
            permissions = candidate;
    }
    ASSERT_NE(permissions, nullptr);
    EXPECT_TRUE(permissions->isVisible());
    ASSERT_EQ(permissions->model().rows().size(), 2u);
    EXPECT_EQ(permissions->model().rows()[1].user, QStringLiteral("dave"));
    const RefServiceProcess::Tree state = service_->state();
    std::vector<std::string> rules;
    for (const auto& [unused, account] : state.get_child("accounts")) {
        if (account.get<std::string>("login") == "carol")
            for (const auto& [unused2, rule] : account.get_child("rules"))
                rules.push_back(rule.get<std::string>("client", "") + ":" +
                                rule.get<std::string>("permission"));
    }
    EXPECT_EQ(rules, std::vector<std::string>{"4:Ask"});

    window_->itmLogout.trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialogShown(); }, 10000));
    EXPECT_FALSE(permissions->isVisible());
}

}  // namespace
}  // namespace velmora::console
