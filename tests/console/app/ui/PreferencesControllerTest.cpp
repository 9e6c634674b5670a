#include "console/app/ui/PreferencesController.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QMessageBox>
#include <QStandardPaths>
#include <QtTest/QTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/app/ui/Translation.h"
#include "console/service/ConsoleConfig.h"
#include "tests/console/app/ui/Screenshot.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnvironment;
using test::ScratchDirectory;

constexpr const char* kRangeAlert =
    "Please select a different value in seconds. The minimum value is 5 seconds, maximum value "
    "is 300 seconds.";

// The dialog over a settings object whose setup file lives in a scratch folder, and a home of
// its own whose configuration folder holds the autostart entry.
class PreferencesControllerTest : public ::testing::Test {
  protected:
    PreferencesControllerTest() {
        environment_.set("HOME", home_.path().string())
            .set("XDG_CONFIG_HOME", (home_ / ".config").string());
        fs::create_directories(config_.getLangDir());
        ScratchDirectory::writeFile(config_.getLangDir() / "de_DE.xml",
                                    "<language name=\"Deutsch\"></language>");
        ScratchDirectory::writeFile(config_.getLangDir() / "cs_CZ.xml",
                                    "<language name=\"Cestina\"></language>");
        translation_.loadAvailable();
        config_.setFastCheckInterval(10);
        config_.setTranslation("de_DE.xml");
    }

    void open() {
        dialog_ = std::make_unique<PreferencesController>(
            config_, translation_, AutostartEntry::forCurrentUser(), [this] { ++delegateCalls_; });
        dialog_->initDialog();
        dialog_->show();
    }
    fs::path entry() const { return home_ / ".config" / "autostart" / AutostartEntry::kFileName; }
    QString alertTitle() const {
        QMessageBox* box = dialog_->alert().box();
        return box != nullptr && box->isVisible() ? box->text() : QString();
    }
    // The settings as the next start reads them from the setup file.
    std::unique_ptr<ConsoleConfig> reread() const {
        auto fresh = std::make_unique<ConsoleConfig>(scratch_.path());
        for (const auto& file : fs::directory_iterator(scratch_.path())) {
            if (file.path().filename().string().rfind("setup.", 0) == 0) {
                std::string error;
                EXPECT_TRUE(fresh->loadSetupText(ScratchDirectory::readFile(file.path()), error))
                    << error;
            }
        }
        return fresh;
    }
    void typeInterval(const QString& text) {
        dialog_->timeoutField.clear();
        QTest::keyClicks(&dialog_->timeoutField, text);
    }

    ScratchDirectory scratch_{"velmora-preferences"};
    ScratchDirectory home_{"velmora-preferences-home"};
    ScopedEnvironment environment_;
    ConsoleConfig config_{scratch_.path()};
    Translation translation_{config_};
    std::unique_ptr<PreferencesController> dialog_;
    int delegateCalls_ = 0;
};

TEST_F(PreferencesControllerTest, EverySettingGoesThroughTheSetupFile) {
    open();
    EXPECT_EQ(dialog_->timeoutField.text(), QStringLiteral("10"));
    EXPECT_EQ(dialog_->cmLanguage.currentText(), QStringLiteral("Deutsch"));
    ASSERT_EQ(dialog_->cmLanguage.count(), 3);
    // English first, then by file name: cs_CZ before de_DE.
    EXPECT_EQ(dialog_->cmLanguage.itemText(1), QStringLiteral("Cestina"));
    EXPECT_FALSE(dialog_->lLanguageRestart.isVisible());

    dialog_->cbUpdates.setChecked(!config_.checkUpdates());
    dialog_->cbLikeMyPrinters.setChecked(!config_.likeMyPrinters());
    dialog_->cbHideMyPrinters.setChecked(!config_.hideMyPrinters());
    dialog_->cbDeliveryResult.setChecked(!config_.showDeliveryResult());
    dialog_->cbNotifications.setChecked(!config_.jobNotifications());
    typeInterval(QStringLiteral("300"));
    dialog_->cmLanguage.setCurrentIndex(1);
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);

    EXPECT_EQ(delegateCalls_, 1);
    EXPECT_FALSE(dialog_->isVisible());
    const std::unique_ptr<ConsoleConfig> saved = reread();
    EXPECT_EQ(saved->checkUpdates(), dialog_->cbUpdates.isChecked());
    EXPECT_EQ(saved->likeMyPrinters(), dialog_->cbLikeMyPrinters.isChecked());
    EXPECT_EQ(saved->hideMyPrinters(), dialog_->cbHideMyPrinters.isChecked());
    EXPECT_EQ(saved->showDeliveryResult(), dialog_->cbDeliveryResult.isChecked());
    EXPECT_EQ(saved->jobNotifications(), dialog_->cbNotifications.isChecked());
    EXPECT_EQ(saved->fastCheckInterval(), 300);
    // The language waits for the next start.
    EXPECT_EQ(saved->pendingTranslation(), "cs_CZ.xml");
    EXPECT_EQ(saved->translation(), "de_DE.xml");

    // Reopened, the dialog shows what was stored.
    dialog_->initDialog();
    EXPECT_EQ(dialog_->timeoutField.text(), QStringLiteral("300"));
}

TEST_F(PreferencesControllerTest, IntervalsOutsideFiveToThreeHundredAreRefusedAndNothingStored) {
    struct Case {
        QString typed;
        QString shown;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("5"), QStringLiteral("5"), true},
        {QStringLiteral("300"), QStringLiteral("300"), true},
        {QStringLiteral("4"), QStringLiteral("4"), false},
        {QStringLiteral("301"), QStringLiteral("301"), false},
        {QStringLiteral("1a2"), QStringLiteral("12"), true},
        {QStringLiteral("abc"), QStringLiteral("0"), false},
        // A huge number is held at the field's ceiling, never wrapped into range.
        {QStringLiteral("4294967301"), QString::number(PreferencesController::kMaxFieldValue),
         false},
        {QStringLiteral("18446744073709551621"),
         QString::number(PreferencesController::kMaxFieldValue), false},
    };
    for (const Case& c : cases) {
        config_.setFastCheckInterval(10);
        open();
        typeInterval(c.typed);
        EXPECT_EQ(dialog_->timeoutField.text(), c.shown) << c.typed.toStdString();
        QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
        EXPECT_EQ(config_.fastCheckInterval(), c.accepted ? c.shown.toInt() : 10)
            << c.typed.toStdString();
        EXPECT_EQ(alertTitle(), c.accepted ? QString() : QString::fromLatin1(kRangeAlert))
            << c.typed.toStdString();
        EXPECT_EQ(dialog_->isVisible(), !c.accepted);
    }
    // A pasted text is filtered the same way.
    open();
    dialog_->timeoutField.selectAll();
    dialog_->timeoutField.insert(QStringLiteral("99999999999999999999999"));
    emit dialog_->timeoutField.textEdited(dialog_->timeoutField.text());
    EXPECT_EQ(dialog_->timeoutField.text(), QString::number(PreferencesController::kMaxFieldValue));
}

TEST_F(PreferencesControllerTest, EnglishIsStoredAsItsFileNameAndTheHintFollowsTheSelection) {
    open();
    dialog_->cmLanguage.setCurrentIndex(0);
    emit dialog_->cmLanguage.activated(0);
    EXPECT_TRUE(dialog_->lLanguageRestart.isVisible());
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    EXPECT_EQ(reread()->pendingTranslation(), "en_US.xml");
    dialog_->initDialog();
    EXPECT_FALSE(dialog_->lLanguageRestart.isVisible());
}

TEST_F(PreferencesControllerTest, StartAtLoginWritesOneAutostartEntryAndRemovesIt) {
    ASSERT_EQ(AutostartEntry::forCurrentUser().file(), entry());
    open();
    EXPECT_FALSE(dialog_->cbOpenAtLogin.isChecked());
    for (int turn = 0; turn < 2; ++turn) {
        dialog_->cbOpenAtLogin.setChecked(true);
        QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
        dialog_->initDialog();
        EXPECT_TRUE(dialog_->cbOpenAtLogin.isChecked());
    }
    std::vector<fs::path> files;
    for (const auto& file : fs::directory_iterator(entry().parent_path()))
        files.push_back(file.path());
    ASSERT_EQ(files.size(), 1u);
    const std::string text = ScratchDirectory::readFile(entry());
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(
        text.find("Exec=" +
                  AutostartEntry::execValue(QCoreApplication::applicationFilePath().toStdString()) +
                  "\n"),
        std::string::npos);
    EXPECT_NE(text.find("--hidden"), std::string::npos);

    dialog_->cbOpenAtLogin.setChecked(false);
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    EXPECT_FALSE(fs::exists(entry()));
}

TEST_F(PreferencesControllerTest, APlantedLinkIsReplacedNeverFollowed) {
    ScratchDirectory elsewhere("velmora-preferences-victim");
    const fs::path victim = elsewhere / "victim";
    ScratchDirectory::writeFile(victim, "keep me");
    fs::create_directories(entry().parent_path());
    fs::create_symlink(victim, entry());
    open();
    EXPECT_FALSE(dialog_->cbOpenAtLogin.isChecked());
    dialog_->cbOpenAtLogin.setChecked(true);
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    EXPECT_EQ(ScratchDirectory::readFile(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(entry()));
    EXPECT_TRUE(fs::is_regular_file(entry()));
}

TEST_F(PreferencesControllerTest, AnAutostartFolderThatIsALinkIsRefusedAndNothingStored) {
    ScratchDirectory elsewhere("velmora-preferences-victim");
    fs::create_directories(home_ / ".config");
    fs::create_directory_symlink(elsewhere.path(), entry().parent_path());
    open();
    dialog_->cbOpenAtLogin.setChecked(true);
    dialog_->cbUpdates.setChecked(!config_.checkUpdates());
    const bool before = config_.checkUpdates();
    QTest::mouseClick(&dialog_->btnOk, Qt::LeftButton);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_NE(alertTitle(), QString());
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(config_.checkUpdates(), before);
    EXPECT_EQ(delegateCalls_, 0);
}

TEST(AutostartEntryTest, ThePathIsQuotedSoTheDesktopStartsExactlyIt) {
    struct Case {
        std::string path;
        std::string exec;
    };
    const std::vector<Case> cases = {
        {"/usr/bin/velmora", R"("/usr/bin/velmora" --hidden)"},
        {"/opt/my apps/velmora", R"("/opt/my apps/velmora" --hidden)"},
        {R"(/opt/a"b/velmora)", R"("/opt/a\\"b/velmora" --hidden)"},
        {"/opt/$HOME/`id`/velmora", R"("/opt/\\$HOME/\\`id\\`/velmora" --hidden)"},
        {R"(/opt/back\slash)", R"("/opt/back\\\\slash" --hidden)"},
        // The desktop replaces %f, %k and the like even inside quotes.
        {"/opt/100%/%k/velmora", R"("/opt/100%%/%%k/velmora" --hidden)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AutostartEntry::execValue(c.path), c.exec) << c.path;
    // A line break would start a second key, and no control character may stand in a value:
    // no entry is written for such a path.
    const std::vector<std::string> refused = {"/opt/a\nExec=evil", "/opt/a\rExec=evil",
                                              "/opt/a\tb/velmora", "/opt/a\x1b[2J/velmora"};
    for (const std::string& path : refused)
        EXPECT_EQ(AutostartEntry("/tmp/x.desktop", path).contents(), "") << path;
}

TEST_F(PreferencesControllerTest, Screenshot) {
    open();
    dialog_->cmLanguage.setCurrentIndex(0);
    emit dialog_->cmLanguage.activated(0);
    test::saveScreenshot(*dialog_, "preferences-dialog");
}

}  // namespace
}  // namespace velmora::console
