#include "console/app/ui/IconTipController.h"

#include <gtest/gtest.h>

#include <QtTest/QTest>

#include <string>
#include <vector>

#include "console/app/ui/Translation.h"
#include "console/service/ConsoleConfig.h"
#include "tests/console/app/ui/QtTestPrinting.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

using test::ScratchDirectory;

class IconTipControllerTest : public ::testing::Test {
  protected:
    std::filesystem::path setupFile() const {
        return config_.getSetupFileNameForUser(config_.currentUserName());
    }
    // The settings as the next start reads them from the saved file.
    std::unique_ptr<ConsoleConfig> savedConfig() const {
        auto saved = std::make_unique<ConsoleConfig>(scratch_.path());
        std::string error;
        EXPECT_TRUE(saved->loadSetup(config_.currentUserName(), error)) << error;
        return saved;
    }

    ScratchDirectory scratch_;
    ConsoleConfig config_{scratch_.path()};
    Translation translation_{config_};
    IconTipController tip_{config_, translation_};
};

TEST_F(IconTipControllerTest, ShowsTitleAndTextAndHidesAnEmptyTitle) {
    tip_.showStatusMessage(QStringLiteral("Report.pdf"),
                           QStringLiteral("successfully sent for printing on Office"), 0,
                           IconTipController::kDeliveryResult);
    EXPECT_TRUE(tip_.isVisible());
    EXPECT_EQ(tip_.lTitle.text(), QStringLiteral("Report.pdf"));
    EXPECT_FALSE(tip_.lTitle.isHidden());
    tip_.showStatusMessage(QString(), QStringLiteral("2 new jobs"), 0,
                           IconTipController::kJobNotification);
    EXPECT_EQ(tip_.lMessage.text(), QStringLiteral("2 new jobs"));
    EXPECT_TRUE(tip_.lTitle.isHidden());
}

TEST_F(IconTipControllerTest, MarkupFromTheNoticeIsShownLiterally) {
    tip_.showStatusMessage(QStringLiteral("<b>x</b>"),
                           QStringLiteral("<img src=\"/etc/passwd\"> & <a href=\"y\">z</a>"), 0,
                           IconTipController::kDeliveryResult);
    EXPECT_EQ(tip_.lTitle.text(), QStringLiteral("<b>x</b>"));
    EXPECT_EQ(tip_.lMessage.text(),
              QStringLiteral("<img src=\"/etc/passwd\"> & <a href=\"y\">z</a>"));
    for (const QLabel* label : {&tip_.lTitle, &tip_.lMessage}) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_FALSE(label->openExternalLinks());
    }
}

TEST_F(IconTipControllerTest, AnEndlessNoticeIsCutAndTheWindowStaysSmall) {
    const QString endless = QString(70000, u'x') + QStringLiteral("\n").repeated(5000);
    tip_.showStatusMessage(endless, endless, 0, IconTipController::kDeliveryResult);
    EXPECT_EQ(tip_.lMessage.text().size(), IconTipController::kMaxShownLength);
    EXPECT_TRUE(tip_.lMessage.text().endsWith(QChar(0x2026)));
    EXPECT_LE(tip_.lTitle.text().size(), IconTipController::kMaxShownLength);
    EXPECT_LT(tip_.height(), 1000);
    // A cut never splits a character outside the basic plane.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x96\xA8").repeated(400);
    tip_.showStatusMessage(QString(), emoji, 0, IconTipController::kDeliveryResult);
    EXPECT_FALSE(tip_.lMessage.text().chopped(1).back().isHighSurrogate());
}

TEST_F(IconTipControllerTest, FadesOutInNineStepsAfterItsInterval) {
    tip_.showStatusMessage(QString(), QStringLiteral("m"), 0.05,
                           IconTipController::kJobNotification);
    EXPECT_DOUBLE_EQ(tip_.windowOpacity(), 1.0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tip_.isVisible(); }, 10000));
    // The last step shown was 0.1; no step at zero opacity or below.
    EXPECT_NEAR(tip_.windowOpacity(), 0.1, 0.01);
}

TEST_F(IconTipControllerTest, IntervalZeroKeepsThePopUpUntilOk) {
    tip_.showStatusMessage(QString(), QStringLiteral("stays"), 0,
                           IconTipController::kJobNotification);
    QTest::qWait(400);
    EXPECT_TRUE(tip_.isVisible());
    EXPECT_DOUBLE_EQ(tip_.windowOpacity(), 1.0);
    QTest::mouseClick(&tip_.btnOk, Qt::LeftButton);
    EXPECT_FALSE(tip_.isVisible());
}

TEST_F(IconTipControllerTest, ANewerNoticeIsNeverClosedByAnEarlierNoticesFade) {
    tip_.showStatusMessage(QString(), QStringLiteral("first"), 0.1,
                           IconTipController::kJobNotification);
    // Catch the first notice in the middle of its fade.
    ASSERT_TRUE(QTest::qWaitFor([&] { return tip_.alpha() < 1.0; }, 10000));
    tip_.showStatusMessage(QString(), QStringLiteral("second"), 0,
                           IconTipController::kDeliveryResult);
    EXPECT_DOUBLE_EQ(tip_.windowOpacity(), 1.0);
    // Long past the moment the first notice would have closed.
    QTest::qWait(800);
    EXPECT_TRUE(tip_.isVisible());
    EXPECT_EQ(tip_.lMessage.text(), QStringLiteral("second"));
    EXPECT_DOUBLE_EQ(tip_.windowOpacity(), 1.0);
    EXPECT_DOUBLE_EQ(tip_.alpha(), 1.0);
}

TEST_F(IconTipControllerTest, DontShowTurnsOffTheNoticesKindAndSavesTheSetup) {
    struct Case {
        int messageType;
        bool jobNotifications;
        bool showDeliveryResult;
    };
    const std::vector<Case> cases = {
        {IconTipController::kJobNotification, false, true},
        {IconTipController::kDeliveryResult, true, false},
        {7, true, true},
    };
    for (const Case& c : cases) {
        config_.setJobNotifications(true);
        config_.setShowDeliveryResult(true);
        std::filesystem::remove(setupFile());
        tip_.showStatusMessage(QString(), QStringLiteral("notice"), 0, c.messageType);
        tip_.btnDontShow.setChecked(true);
        QTest::mouseClick(&tip_.btnOk, Qt::LeftButton);
        EXPECT_FALSE(tip_.isVisible());
        EXPECT_EQ(config_.jobNotifications(), c.jobNotifications) << c.messageType;
        EXPECT_EQ(config_.showDeliveryResult(), c.showDeliveryResult) << c.messageType;
        ASSERT_TRUE(std::filesystem::exists(setupFile())) << c.messageType;
        auto saved = savedConfig();
        EXPECT_EQ(saved->jobNotifications(), c.jobNotifications) << c.messageType;
        EXPECT_EQ(saved->showDeliveryResult(), c.showDeliveryResult) << c.messageType;
    }
}

TEST_F(IconTipControllerTest, ClosingWithoutTheBoxChangesAndSavesNothing) {
    tip_.showStatusMessage(QString(), QStringLiteral("notice"), 0,
                           IconTipController::kJobNotification);
    QTest::mouseClick(&tip_.btnOk, Qt::LeftButton);
    EXPECT_TRUE(config_.jobNotifications());
    EXPECT_FALSE(std::filesystem::exists(setupFile()));

    // The box is unticked again for the next notice.
    tip_.showStatusMessage(QString(), QStringLiteral("first"), 0,
                           IconTipController::kJobNotification);
    tip_.btnDontShow.setChecked(true);
    tip_.showStatusMessage(QString(), QStringLiteral("second"), 0,
                           IconTipController::kDeliveryResult);
    EXPECT_FALSE(tip_.btnDontShow.isChecked());
}

}  // namespace
}  // namespace velmora::console
