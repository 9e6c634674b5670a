#include "core/model/BinArray.h"
#include "core/model/PaperArray.h"
#include "core/xml/XmlHelpers.h"

#include <gtest/gtest.h>

#include "tests/support/XmlTesting.h"

#include <climits>
#include <limits>

namespace velmora {
namespace {

TEST(Paper, SizesAreKeptInPointsAndTruncatedWhenReadBack) {
    Paper paper;
    EXPECT_EQ(paper.width(), 2160);
    EXPECT_EQ(paper.height(), 2790);
    EXPECT_NEAR(paper.systemWidth(), 612.283, 0.001);
    EXPECT_NEAR(paper.systemHeight(), 790.866, 0.001);

    for (int size : {2160, 2790, 2100, 2970, 0, 1, 100}) {
        paper.setWidth(size);
        EXPECT_EQ(paper.width(), size);
    }
    paper.setWidth(453);
    EXPECT_EQ(paper.width(), 452);
    paper.setHeight(-453);
    EXPECT_EQ(paper.height(), -452);

    EXPECT_DOUBLE_EQ(Paper::mcmToSystem(254), 72.0);
    EXPECT_EQ(Paper::systemToMcm(72.0), 254);
    EXPECT_EQ(Paper::systemToMcm(595.9), 2102);
}

TEST(Paper, SizesOutsideTheIntegerRangeDoNotOverflow) {
    EXPECT_EQ(Paper::systemToMcm(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(Paper::systemToMcm(std::numeric_limits<double>::infinity()), INT_MAX);
    EXPECT_EQ(Paper::systemToMcm(-1e300), INT_MIN);
}

TEST(Paper, ReadsTitleFromNameOrTextAndDecidesWhetherCustom) {
    auto document = test::parsedXml(
        "<paper-formats>"
        "<paper name='A4' format='iso-a4' width='2100' height='2970'>ignored</paper>"
        "<paper-format format='roll' width='0' height='2970'>Roll <b>paper</b></paper-format>"
        "<paper name='' format='big' width='3000' height='4000' custom='false'>Big</paper>"
        "<paper name='Own' format='own' width='1000' height='1000' custom='true'/>"
        "<paper name='Odd' format='odd' width='1000' height='0' custom='no'/>"
        "<paper/>"
        "</paper-formats>");
    pugi::xml_node formats = document.document_element();
    std::vector<Paper> papers;
    for (pugi::xml_node child : formats.children())
        papers.emplace_back(child);
    ASSERT_EQ(papers.size(), 6u);

    EXPECT_EQ(papers[0].title(), "A4");
    EXPECT_EQ(papers[0].format(), "iso-a4");
    EXPECT_EQ(papers[0].width(), 2100);
    EXPECT_EQ(papers[0].height(), 2970);
    EXPECT_FALSE(papers[0].custom());

    EXPECT_EQ(papers[1].title(), "Roll paper");
    EXPECT_TRUE(papers[1].custom()) << "a zero width makes a paper custom";

    EXPECT_EQ(papers[2].title(), "Big");
    EXPECT_FALSE(papers[2].custom());

    EXPECT_TRUE(papers[3].custom());
    // An attribute that is not true leaves the decision to the size.
    EXPECT_TRUE(papers[4].custom());

    EXPECT_EQ(papers[5].format(), "");
    EXPECT_EQ(papers[5].title(), "");
    EXPECT_EQ(papers[5].width(), 0);
    EXPECT_TRUE(papers[5].custom());
}

TEST(Paper, BinsReadTitleFromNameOrText) {
    auto document = test::parsedXml(
        "<bins><bin name='Tray 1' bin='t1'>x</bin><bin bin='t2'>Manual</bin><bin/></bins>");
    BinArray bins;
    for (pugi::xml_node child : document.document_element().children("bin"))
        bins.addObject(Bin(child));
    ASSERT_EQ(bins.count(), 3u);
    EXPECT_EQ(bins.objectAtIndex(0).title(), "Tray 1");
    EXPECT_EQ(bins.objectAtIndex(1).title(), "Manual");
    EXPECT_EQ(bins.objectAtIndex(1).code(), "t2");
    EXPECT_EQ(bins.objectAtIndex(2).code(), "");
    EXPECT_EQ(bins.getBin("t2"), &bins.objectAtIndex(1));
    EXPECT_EQ(bins.getBin("T2"), nullptr);
}

TEST(Paper, LookupsFindTheFirstMatch) {
    PaperArray papers;
    for (const char* title : {"first", "second"}) {
        Paper paper;
        paper.setFormat("a4");
        paper.setTitle(title);
        papers.addObject(paper);
    }
    ASSERT_NE(papers.getPaper("a4"), nullptr);
    EXPECT_EQ(papers.getPaper("a4")->title(), "first");
    EXPECT_EQ(papers.getPaper("A4"), nullptr);
    EXPECT_THROW(papers.objectAtIndex(2), std::out_of_range);
    papers.removeAllObjects();
    EXPECT_EQ(papers.getPaper("a4"), nullptr);
}

}  // namespace
}  // namespace velmora
