#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest/QTest>

#include <filesystem>
#include <vector>

#include "console/app/ui/CellRoles.h"
#include "console/app/ui/PrinterOnlineCell.h"
#include "console/app/ui/RemotePrinterCell.h"
#include "console/app/ui/RightSearchField.h"
#include "console/app/ui/ShareStateCell.h"
#include "console/app/ui/Translation.h"
#include "console/app/ui/UiImages.h"
#include "console/service/ConsoleConfig.h"
#include "tests/console/app/ui/QtTestPrinting.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

using test::ScratchDirectory;

QImage imageOf(const QIcon& icon) {
    return icon.pixmap(QSize(12, 12)).toImage().convertToFormat(QImage::Format_ARGB32);
}

bool sameIcon(const QIcon& icon, const QString& name) {
    const QImage expected = imageOf(UiImages::icon(name));
    return !expected.isNull() && imageOf(icon) == expected;
}

class PrinterCellsTest : public ::testing::Test {
  protected:
    PrinterCellsTest() : config_(scratch_.path()) {
        std::filesystem::create_directories(config_.getLangDir());
        ScratchDirectory::writeFile(
            config_.getLangDir() / "de.xml",
            "<l name=\"Deutsch\"><section id=\"HTML\"><text id=\"Shared\">Freigegeben</text>"
            "<text id=\"Online\">Bereit</text></section></l>");
        config_.setTranslation("de.xml");
        translation_.loadAvailable();
        translation_.loadCurrent();
    }

    // A new row of a one-column model holding `value` (an invalid QVariant: no value).
    QModelIndex cell(const QVariant& value, bool isDefault = false) {
        const int row = model_.rowCount();
        model_.setColumnCount(1);
        model_.insertRow(row);
        const QModelIndex index = model_.index(row, 0);
        if (value.isValid())
            model_.setData(index, value, Qt::DisplayRole);
        model_.setData(index, isDefault, kIsDefaultRole);
        return index;
    }

    template <typename Cell>
    QStyleOptionViewItem optionFor(const Cell& cellDelegate, const QModelIndex& index) {
        QStyleOptionViewItem option;
        cellDelegate.initStyleOption(&option, index);
        return option;
    }

    ScratchDirectory scratch_;
    ConsoleConfig config_;
    Translation translation_{config_};
    QStandardItemModel model_;
};

TEST_F(PrinterCellsTest, ShareStateShowsItsIconAndTranslatedWordAndNoValueIsNotShared) {
    ShareStateCell shareCell(translation_);
    struct Case {
        QVariant value;
        QString text;
        QString icon;
    };
    const std::vector<Case> cases = {
        {true, QStringLiteral("Freigegeben"), QStringLiteral("cshared")},
        {false, QStringLiteral("Not shared"), QStringLiteral("cunshared")},
        {QVariant(), QStringLiteral("Not shared"), QStringLiteral("cunshared")},
    };
    for (const Case& c : cases) {
        QStyleOptionViewItem option = optionFor(shareCell, cell(c.value));
        EXPECT_EQ(option.text, c.text);
        EXPECT_TRUE(sameIcon(option.icon, c.icon)) << c.icon.toStdString();
        EXPECT_EQ(option.decorationPosition, QStyleOptionViewItem::Left);
    }
}

TEST_F(PrinterCellsTest, OnlineStateFallsBackToTheKeyAndNoValueIsOffline) {
    PrinterOnlineCell onlineCell(translation_);
    struct Case {
        QVariant value;
        QString text;
        QString icon;
    };
    const std::vector<Case> cases = {
        {true, QStringLiteral("Bereit"), QStringLiteral("cgreen")},
        {false, QStringLiteral("Offline"), QStringLiteral("cred")},
        {QVariant(), QStringLiteral("Offline"), QStringLiteral("cred")},
    };
    for (const Case& c : cases) {
        QStyleOptionViewItem option = optionFor(onlineCell, cell(c.value));
        EXPECT_EQ(option.text, c.text);
        EXPECT_TRUE(sameIcon(option.icon, c.icon)) << c.icon.toStdString();
    }
}

TEST_F(PrinterCellsTest, DefaultMarkComesFromTheRowNeverFromATabInTheTitle) {
    RemotePrinterCell printerCell;
    struct Case {
        QString title;
        bool isDefault;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("Office"), true},
        {QStringLiteral("\tFake default"), false},
        {QStringLiteral("\t"), false},
        {QStringLiteral("Hall\tLaser"), false},
        {QString(), true},
        {QStringLiteral("<b>Bold</b>"), false},
    };
    for (const Case& c : cases) {
        QStyleOptionViewItem option = optionFor(printerCell, cell(c.title, c.isDefault));
        EXPECT_EQ(option.text, c.title);
        EXPECT_EQ(sameIcon(option.icon, QStringLiteral("default")), c.isDefault)
            << c.title.toStdString();
        EXPECT_EQ(option.features.testFlag(QStyleOptionViewItem::HasDecoration), c.isDefault);
        if (c.isDefault) {
            EXPECT_EQ(option.decorationPosition, QStyleOptionViewItem::Right);
        }
    }
}

// The default icon's own yellow, drawn in the table only in the default printer's row.
TEST_F(PrinterCellsTest, TheDrawnTableMarksOnlyTheDefaultRow) {
    RemotePrinterCell printerCell;
    cell(QStringLiteral("\tLooks like a default"), false);
    cell(QStringLiteral("Office"), true);
    QTableView table;
    table.setModel(&model_);
    table.setItemDelegate(&printerCell);
    table.horizontalHeader()->setStretchLastSection(true);
    table.resize(300, 120);
    const QImage image = table.viewport()->grab().toImage();

    auto yellowIn = [&](int row) {
        const QRect rect = table.visualRect(model_.index(row, 0));
        int count = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            for (int x = rect.left(); x <= rect.right(); ++x) {
                const QColor color = image.pixelColor(x, y);
                if (color.red() > 230 && color.green() > 180 && color.green() < 220 &&
                    color.blue() < 80)
                    ++count;
            }
        }
        return count;
    };
    EXPECT_EQ(yellowIn(0), 0);
    EXPECT_GT(yellowIn(1), 10);
}

TEST(RightSearchFieldTest, SearchesFromItsButtonAndReturnWithoutAClearButton) {
    RightSearchField field;
    QSignalSpy searches(&field, &RightSearchField::searchRequested);
    EXPECT_FALSE(field.isClearButtonEnabled());
    EXPECT_FALSE(field.searchButton().icon().isNull());
    field.setText(QStringLiteral("laser"));
    field.searchButton().trigger();
    QTest::keyClick(&field, Qt::Key_Return);
    ASSERT_EQ(searches.count(), 2);
    EXPECT_EQ(searches.at(0).at(0).toString(), QStringLiteral("laser"));
    EXPECT_EQ(searches.at(1).at(0).toString(), QStringLiteral("laser"));
}

}  // namespace
}  // namespace velmora::console
