#include "console/app/ui/AlertSheet.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>
#include <QtTest/QTest>

#include <vector>

#include "tests/console/app/ui/QtTestPrinting.h"

namespace velmora::console {
namespace {

class AlertSheetTest : public ::testing::Test {
  protected:
    AlertSheetTest() { window_.show(); }

    QAbstractButton* button(const QString& text) const {
        for (QAbstractButton* candidate : sheet_.box()->buttons()) {
            if (candidate->text() == text)
                return candidate;
        }
        return nullptr;
    }

    QWidget window_;
    AlertSheet sheet_{window_};
    std::vector<bool> answers_;
};

TEST_F(AlertSheetTest, TitleAndMessageFromTheServiceAreShownAsPlainText) {
    sheet_.show(QStringLiteral("<b>Failed</b>"), QStringLiteral("<a href=\"x\">click</a>"),
                QStringLiteral("OK"));
    QMessageBox* box = sheet_.box();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->parentWidget(), &window_);
    QStringList shown;
    for (QLabel* label : box->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        shown.append(label->text());
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
    EXPECT_TRUE(shown.contains(QStringLiteral("<b>Failed</b>")));
    EXPECT_TRUE(shown.contains(QStringLiteral("<a href=\"x\">click</a>")));
}

// A server message or error text of a megabyte would be laid out whole in the box, freezing the
// console for half a minute and making a box far taller than any screen.
TEST_F(AlertSheetTest, AHugeTextFromTheServiceIsShortenedBeforeItIsShown) {
    QString huge;
    while (huge.size() < (1 << 20))
        huge += QStringLiteral("word ");
    sheet_.show(huge, huge, QStringLiteral("OK"));
    QMessageBox* box = sheet_.box();
    ASSERT_NE(box, nullptr);
    for (const QString& shown : {box->text(), box->informativeText()}) {
        EXPECT_LE(shown.size(), AlertSheet::kMaxShownLength);
        EXPECT_TRUE(huge.startsWith(shown.chopped(1)));
        EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    }
}

TEST_F(AlertSheetTest, AChoiceAnswersOnceForEveryWayItEnds) {
    auto record = [this](bool chosen) { answers_.push_back(chosen); };
    sheet_.showChoice(QStringLiteral("t"), QStringLiteral("m"), QStringLiteral("Try Again"),
                      QStringLiteral("Log Out"), record);
    QTest::mouseClick(button(QStringLiteral("Try Again")), Qt::LeftButton);
    sheet_.showChoice(QStringLiteral("t"), QStringLiteral("m"), QStringLiteral("Try Again"),
                      QStringLiteral("Log Out"), record);
    QTest::mouseClick(button(QStringLiteral("Log Out")), Qt::LeftButton);
    // Only the other button's click may act (it removes a printer or signs out): Escape and a
    // newer sheet end the choice with the harmless default.
    sheet_.showChoice(QStringLiteral("t"), QStringLiteral("m"), QStringLiteral("Close"),
                      QStringLiteral("Remove"), record);
    QTest::keyClick(sheet_.box(), Qt::Key_Escape);
    sheet_.showChoice(QStringLiteral("t"), QStringLiteral("m"), QStringLiteral("Try Again"),
                      QStringLiteral("Log Out"), record);
    sheet_.show(QStringLiteral("newer"), QString(), QStringLiteral("OK"));
    QTest::mouseClick(button(QStringLiteral("OK")), Qt::LeftButton);
    EXPECT_EQ(answers_, (std::vector<bool>{true, false, true, true}));
}

TEST_F(AlertSheetTest, AnAnswerMayOpenTheNextSheet) {
    sheet_.showChoice(QStringLiteral("first"), QString(), QStringLiteral("Again"),
                      QStringLiteral("Stop"), [this](bool chosen) {
                          answers_.push_back(chosen);
                          sheet_.show(QStringLiteral("second"), QString(), QStringLiteral("OK"));
                      });
    QTest::mouseClick(button(QStringLiteral("Again")), Qt::LeftButton);
    QTest::qWait(20);
    ASSERT_NE(sheet_.box(), nullptr);
    EXPECT_EQ(sheet_.box()->text(), QStringLiteral("second"));
    EXPECT_EQ(answers_, std::vector<bool>{true});
}

}  // namespace
}  // namespace velmora::console
