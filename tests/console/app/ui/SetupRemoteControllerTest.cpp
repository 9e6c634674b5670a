#include "console/app/ui/SetupRemoteController.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QtTest/QTest>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "console/app/ui/PrinterPropertiesController.h"
#include "console/app/ui/Translation.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/JobDispatcher.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/remote/PpdGenerator.h"
#include "console/remote/VirtualPrinter.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/model/RemotePrinterArray.h"
#include "tests/console/app/ui/NoDispatch.h"
#include "tests/console/app/ui/QtTestPrinting.h"
#include "tests/console/app/ui/Screenshot.h"
#include "tests/support/PrivateCupsd.h"
#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

using test::PrivateCupsd;
using test::RefServiceProcess;
using test::ScratchDirectory;

constexpr const char* kLaser = "11111111-2222-3333-4444-555555555555";
constexpr const char* kInkjet = "22222222-3333-4444-5555-666666666666";
constexpr const char* kSeed = R"({
    "accounts": [
      {"login": "alice", "password": "pw", "token": "tok-alice", "id": 1,
       "favorites": ["11111111-2222-3333-4444-555555555555",
                     "22222222-3333-4444-5555-666666666666"]},
      {"login": "bob", "id": 2, "nick": "Bobby"}],
    "printers": [
      {"public_id": "11111111-2222-3333-4444-555555555555", "owner": "bob", "title": "Laser",
       "shared": true, "online": true, "details": true,
       "capabilities": {"pack": "true", "enc-type": "AES,AES0", "transport": "bmp"},
       "papers": [{"name": "A4", "format": "A4", "width": 2100, "height": 2970},
                  {"name": "Own size", "format": "Custom", "width": 0, "height": 0,
                   "custom": "true"}],
       "bins": [{"name": "Tray 1", "bin": "tray1"}, {"name": "Tray 2", "bin": "tray2"}]},
      {"public_id": "22222222-3333-4444-5555-666666666666", "owner": "bob", "title": "Inkjet",
       "shared": true, "online": true, "details": true,
       "capabilities": {"pack": "true", "enc-type": "AES", "transport": "bmp"},
       "papers": [{"name": "Letter", "format": "Letter", "width": 2159, "height": 2794}]}]})";

using test::NoDispatch;

std::string processUser() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr ? entry->pw_name : "";
}

// The remote printer setup and the sharing properties, signed in as alice on the reference
// service, with the queues on a private scheduler.
class SetupRemoteControllerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<ScratchDirectory>("velmora-setup-remote");
        ScratchDirectory::writeFile(*scratch_ / "seed.json", kSeed);
        service_ = std::make_unique<RefServiceProcess>(
            *scratch_ / "seed.json", std::vector<std::string>{}, *scratch_ / "service.log");
        PrivateCupsd::Options options;
        options.extraConfig = ScratchDirectory::readFile(VELMORA_QUEUE_POLICY_FILE);
        options.backends = {{"velmora", VELMORA_BACKEND_PATH}};
        cupsd_ = std::make_unique<PrivateCupsd>(options);
    }
    static void TearDownTestSuite() {
        cupsd_.reset();
        service_.reset();
        scratch_.reset();
    }

    void SetUp() override {
        if (!cupsd_->running())
            GTEST_SKIP() << "No private CUPS scheduler: " << cupsd_->failure();
        service_->post("/_ref/reset", "");
        config_.setService(service_->serviceUrl());
        config_.setToken("tok-alice");
        std::string error;
        ASSERT_TRUE(provider_.loginWithToken(error)) << error;
        ASSERT_NE(remotePrinters_.getPrinter(kLaser), nullptr);
        // The generated PPD of the queues without duplex.
        ASSERT_TRUE(PpdGenerator::generatePPDFile(config_, remotePrinters_, error)) << error;
        dialog_ = std::make_unique<SetupRemoteController>(
            SetupRemoteController::Collaborators{config_, provider_, remotePrinters_, queues_,
                                                 translation_},
            SetupRemoteController::Delegate{[this] { ++oks_; }, [this] { ++removals_; }});
    }
    void TearDown() override {
        if (!cupsd_->running())
            return;
        queues_.waitUntilIdle();
        for (const auto& queue : queueNames())
            cupsd_->command({"lpadmin", "-x", queue});
    }

    static std::vector<std::string> queueNames() {
        std::vector<std::string> names;
        std::istringstream in(cupsd_->command({"lpstat", "-p"}).standardOutput);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("printer ", 0) == 0)
                names.push_back(line.substr(8, line.find(' ', 8) - 8));
        }
        return names;
    }
    void open(const std::string& publicId) {
        dialog_->setPrinter(publicId);
        if (dialog_->initDialog())
            dialog_->show();
    }
    // The setup as the next start of the sender would read it.
    std::unique_ptr<ConsoleConfig> savedSetup() const {
        auto saved = std::make_unique<ConsoleConfig>(profile_.path());
        std::string error;
        EXPECT_TRUE(saved->loadSetup(processUser(), error)) << error;
        return saved;
    }
    QString alertTitle() const {
        return dialog_->alertBox() != nullptr ? dialog_->alertBox()->text() : QString();
    }
    VirtualPrinter::Settings queueSettings() const {
        VirtualPrinter::Settings settings;
        settings.changer.lpadmin.server = cupsd_->socketPath();
        settings.changer.lpadmin.systemDir = profile_.path();
        settings.changer.lpadmin.duplexPpd = VELMORA_DUPLEX_PPD;
        settings.changer.lpadmin.opPolicy = "velmora";
        settings.appVersion = "1.6.1";
        return settings;
    }

    static inline std::unique_ptr<ScratchDirectory> scratch_;
    static inline std::unique_ptr<RefServiceProcess> service_;
    static inline std::unique_ptr<PrivateCupsd> cupsd_;

    ScratchDirectory profile_{"velmora-setup-profile"};
    ConsoleConfig config_{profile_.path()};
    Person user_;
    PermissionArray permissions_;
    RemotePrinterArray remotePrinters_;
    LocalPrinterArray localPrinters_{cupsd_->socketPath()};
    NoDispatch dispatcher_;
    JobArray jobs_{dispatcher_, {[this] { return profile_.path(); }, [] {}}};
    Translation translation_{config_};
    ConsoleInetProvider provider_{
        config_, user_, {permissions_, remotePrinters_, localPrinters_, jobs_}, translation_};
    VirtualPrinter queues_{queueSettings()};
    int oks_ = 0;
    int removals_ = 0;
    std::unique_ptr<SetupRemoteController> dialog_;
};

TEST_F(SetupRemoteControllerTest, ConfirmingSavesTheChoicesAndMakesThePrinterTheDefault) {
    config_.setDefaultBinCode("tray2");
    config_.setNotifyOnCompletion(true);
    open(kLaser);
    EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("Laser"));
    EXPECT_EQ(dialog_->cmPaper.currentText(), QStringLiteral("A4"));
    EXPECT_EQ(dialog_->cmBin.currentText(), QStringLiteral("Tray 2"));
    // A paper of 2100 × 2970 tenths of a millimetre, shown in millimetres, not editable.
    EXPECT_EQ(dialog_->eWidth.text(), QStringLiteral("210"));
    EXPECT_EQ(dialog_->eHeight.text(), QStringLiteral("297"));
    EXPECT_FALSE(dialog_->eWidth.isEnabled());
    EXPECT_TRUE(dialog_->cbNotify.isChecked());
    test::saveScreenshot(*dialog_, "setup-remote-printer");

    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    EXPECT_EQ(alertTitle(), QString());
    EXPECT_EQ(oks_, 1);
    EXPECT_FALSE(dialog_->isVisible());
    const auto saved = savedSetup();
    EXPECT_EQ(saved->defaultPrinterId(), kLaser);
    EXPECT_EQ(saved->defaultPaperFormat(), "A4");
    EXPECT_EQ(saved->customPaperWidth(), 2100);
    EXPECT_EQ(saved->customPaperHeight(), 2970);
    EXPECT_EQ(saved->defaultBinCode(), "tray2");
    EXPECT_TRUE(saved->notifyOnCompletion());
}

TEST_F(SetupRemoteControllerTest, PrinterWithoutBinsAndWithoutAes0) {
    config_.setDefaultBinCode("tray9");
    config_.setEncryption(SetupRemoteController::kEncryptionAES0);
    open(kInkjet);
    EXPECT_FALSE(dialog_->cmBin.isEnabled());
    EXPECT_EQ(dialog_->cmBin.count(), 0);
    EXPECT_EQ(dialog_->selectedEncryptionRow(), 0);
    EXPECT_FALSE(dialog_->cellEncryptionAES0.isEnabled());
    EXPECT_TRUE(dialog_->cellEncryptionAES.isEnabled());
    EXPECT_FALSE(dialog_->ePassword1.isEnabled());
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    EXPECT_EQ(oks_, 1);
    EXPECT_EQ(savedSetup()->defaultBinCode(), "tray9");
    EXPECT_EQ(savedSetup()->encryption(), SetupRemoteController::kEncryptionNone);
}

TEST_F(SetupRemoteControllerTest, EncryptionRowsAndTheirPasswords) {
    config_.setEncryption(SetupRemoteController::kEncryptionAES);
    config_.setEncryptionPassword("old secret");
    open(kLaser);
    EXPECT_EQ(dialog_->selectedEncryptionRow(), 2);
    EXPECT_TRUE(dialog_->ePassword1.isEnabled());
    EXPECT_EQ(dialog_->ePassword2.text(), QStringLiteral("old secret"));

    struct Case {
        QString first, second, alert;
    };
    const std::vector<Case> refused = {
        {QString(), QString(), QStringLiteral("Password is empty")},
        {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("Passwords does not match")},
    };
    for (const Case& c : refused) {
        dialog_->ePassword1.setText(c.first);
        dialog_->ePassword2.setText(c.second);
        QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
        EXPECT_EQ(alertTitle(), c.alert);
        EXPECT_EQ(oks_, 0);
        EXPECT_TRUE(dialog_->isVisible());
    }
    EXPECT_EQ(config_.encryptionPassword(), "old secret");

    // The key bound to the job password needs no stored password.
    dialog_->cellEncryptionAES0.setChecked(true);
    EXPECT_FALSE(dialog_->ePassword1.isEnabled());
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    EXPECT_EQ(oks_, 1);
    EXPECT_EQ(savedSetup()->encryption(), SetupRemoteController::kEncryptionAES0);
    EXPECT_EQ(savedSetup()->encryptionPassword(), "");
}

TEST_F(SetupRemoteControllerTest, CustomSizeIsEditableAndBounded) {
    config_.setCustomPaperWidth(1009);
    config_.setCustomPaperHeight(1500);
    open(kLaser);
    dialog_->cmPaper.setCurrentIndex(1);
    EXPECT_TRUE(dialog_->eWidth.isEnabled());
    EXPECT_EQ(dialog_->eWidth.text(), QStringLiteral("100"));
    EXPECT_EQ(dialog_->eHeight.text(), QStringLiteral("150"));
    dialog_->eWidth.setText(QStringLiteral("5"));
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    EXPECT_NE(alertTitle(), QString());
    EXPECT_EQ(oks_, 0);
    dialog_->eWidth.setText(QStringLiteral("120"));
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    EXPECT_EQ(oks_, 1);
    EXPECT_EQ(savedSetup()->defaultPaperFormat(), "Custom");
    EXPECT_EQ(savedSetup()->customPaperWidth(), 1200);
    EXPECT_EQ(savedSetup()->customPaperHeight(), 1500);
}

TEST_F(SetupRemoteControllerTest, PrinterGoneWhileOpenClosesTheDialogAndSavesNothing) {
    open(kLaser);
    remotePrinters_.removeObject(remotePrinters_.getPrinter(kLaser).get());
    // Confirming before the refresh reached the dialog acts on nothing.
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(oks_, 0);
    EXPECT_EQ(config_.defaultPrinterId(), "");

    open(kInkjet);
    EXPECT_TRUE(dialog_->isVisible());
    remotePrinters_.removeAllObjects();
    dialog_->listsChanged();
    EXPECT_FALSE(dialog_->isVisible());
    open(kInkjet);
    EXPECT_FALSE(dialog_->isVisible());
}

TEST_F(SetupRemoteControllerTest, RenameTouchesOnlyAnExistingQueueOfOurs) {
    open(kLaser);
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    queues_.waitUntilIdle();
    EXPECT_TRUE(queueNames().empty());

    queues_.compareSharedAndVirtual({{kLaser, "Laser", true, false}});
    queues_.waitUntilIdle();
    ASSERT_EQ(queueNames(), std::vector<std::string>{std::string("Velmora_") + kLaser});
    remotePrinters_.getPrinter(kLaser)->setShareTitle("Laser \"upstairs\"; rm -rf /");
    open(kLaser);
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    queues_.waitUntilIdle();
    EXPECT_EQ(queues_.getPrinterDescription(std::string("Velmora_") + kLaser),
              "Laser \"upstairs\"; rm -rf / (Velmora)");
    EXPECT_EQ(queueNames().size(), 1u);
}

TEST_F(SetupRemoteControllerTest, RemoveAsksAndKeepsThePrinterWhenTheServiceFails) {
    queues_.compareSharedAndVirtual({{kLaser, "Laser", true, false}});
    queues_.waitUntilIdle();
    open(kLaser);
    auto answer = [this](const QString& button) {
        dialog_->btnRemove_Clicked();
        QMessageBox* box = dialog_->alertBox();
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* candidate : box->buttons()) {
            if (candidate->text() == button)
                candidate->click();
        }
        QCoreApplication::processEvents();
    };
    answer(QStringLiteral("Cancel"));
    EXPECT_NE(remotePrinters_.getPrinter(kLaser), nullptr);

    config_.setService("http://127.0.0.1:1/tdService.asmx");
    answer(QStringLiteral("Remove"));
    EXPECT_NE(alertTitle(), QString());
    EXPECT_NE(remotePrinters_.getPrinter(kLaser), nullptr);
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(removals_, 0);

    config_.setService(service_->serviceUrl());
    answer(QStringLiteral("Remove"));
    EXPECT_EQ(remotePrinters_.getPrinter(kLaser), nullptr);
    EXPECT_EQ(removals_, 1);
    EXPECT_FALSE(dialog_->isVisible());
    queues_.waitUntilIdle();
    EXPECT_TRUE(queueNames().empty());
}

TEST_F(SetupRemoteControllerTest, SharingPropertiesChangeOnlyOnOkAndCloseWhenThePrinterIsGone) {
    ASSERT_EQ(
        cupsd_->command({"lpadmin", "-p", "Office", "-E", "-v", "file:///dev/null", "-m", "raw"})
            .exitStatus,
        0);
    ASSERT_TRUE(localPrinters_.loadFromSystem());
    std::vector<std::string> confirmed;
    PrinterPropertiesController properties(
        localPrinters_, translation_,
        [&confirmed](const std::string& title) { confirmed.push_back(title); });
    properties.setPrinter("Office");
    ASSERT_TRUE(properties.initDialog());
    properties.show();
    EXPECT_EQ(properties.windowTitle(), QStringLiteral("Office"));
    properties.eShareName.clear();
    properties.eShareName.insert(QString(300, QLatin1Char('x')));
    EXPECT_LE(properties.eShareName.text().size(), PrinterPropertiesController::kMaxShareName);
    properties.eShareName.setText(QStringLiteral("Office <i>printer</i>"));
    properties.cbHide.setChecked(true);
    test::saveScreenshot(properties, "printer-properties");
    EXPECT_FALSE(localPrinters_.objectAtIndex(0).hidden());
    QTest::mouseClick(&properties.btnOk, Qt::LeftButton);
    EXPECT_EQ(confirmed, std::vector<std::string>{"Office"});
    EXPECT_EQ(localPrinters_.objectAtIndex(0).shareTitle(), "Office <i>printer</i>");
    EXPECT_TRUE(localPrinters_.objectAtIndex(0).hidden());

    ASSERT_TRUE(properties.initDialog());
    properties.show();
    cupsd_->command({"lpadmin", "-x", "Office"});
    ASSERT_TRUE(localPrinters_.loadFromSystem());
    properties.listsChanged();
    EXPECT_FALSE(properties.isVisible());
    QTest::mouseClick(&properties.btnOk, Qt::LeftButton);
    EXPECT_EQ(confirmed.size(), 1u);
}

}  // namespace
}  // namespace velmora::console
