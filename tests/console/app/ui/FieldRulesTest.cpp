#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QtTest/QTest>

#include <string>
#include <vector>

#include "console/app/ui/EmailAddressRule.h"
#include "console/app/ui/MaxLenFormatter.h"
#include "tests/console/app/ui/QtTestPrinting.h"

namespace velmora::console {
namespace {

TEST(EmailAddressRuleTest, AcceptsWordsJoinedBySingleDotsWithOneAtAndADottedDomain) {
    struct Case {
        const char* address;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"john.doe@example.com", true},
        {"a@b.co", true},
        {"John_Doe-1@Mail.Example.ORG", true},
        {"x@a.b.c", true},
        {"1a@b.c", true},
        {"-a@b.c", true},
        {"a@exa_mple.c-", true},
        {"", false},
        {".john@example.com", false},
        {"@example.com", false},
        {"john..doe@example.com", false},
        {"john.@example.com", false},
        {"john@.example.com", false},
        {"john@example", false},
        {"john@example.", false},
        {"john@", false},
        {"a.b@c", false},
        {"john@@example.com", false},
        {"john@ex@ample.com", false},
        {"jo hn@example.com", false},
        {"john@example.com ", false},
        {" john@example.com", false},
        {"john+tag@example.com", false},
        {"j\xc3\xb6hn@example.com", false},
        {"john@example.com\n", false},
        {"<b>a</b>@b.c", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EmailAddressRule::isValid(QString::fromUtf8(c.address)), c.valid) << c.address;
}

class MaxLenFormatterTest : public ::testing::Test {
  protected:
    MaxLenFormatterTest() { field_.setValidator(&limit_); }

    void paste(const QString& text) {
        QApplication::clipboard()->setText(text);
        field_.paste();
    }

    MaxLenFormatter limit_{5};
    QLineEdit field_;
};

TEST_F(MaxLenFormatterTest, TypingStopsAtTheLimit) {
    QTest::keyClicks(&field_, QStringLiteral("abcdefg"));
    EXPECT_EQ(field_.text(), QStringLiteral("abcde"));
}

TEST_F(MaxLenFormatterTest, APasteThatWouldExceedIsRefusedWholeNotCut) {
    QTest::keyClicks(&field_, QStringLiteral("abc"));
    paste(QStringLiteral("defg"));
    EXPECT_EQ(field_.text(), QStringLiteral("abc"));
    paste(QStringLiteral("de"));
    EXPECT_EQ(field_.text(), QStringLiteral("abcde"));

    // Replacing the selection is judged by the text it leaves.
    field_.selectAll();
    paste(QStringLiteral("123456"));
    EXPECT_EQ(field_.text(), QStringLiteral("abcde"));
    field_.selectAll();
    paste(QStringLiteral("12345"));
    EXPECT_EQ(field_.text(), QStringLiteral("12345"));
}

}  // namespace
}  // namespace velmora::console
