#include <gtest/gtest.h>

#include "console/jobs/LocalPrinter.h"
#include "core/xml/XmlHelpers.h"

#include <cmath>
#include <limits>
#include <vector>

namespace velmora::console {
namespace {

using Size = LocalPrinter::Size;

LocalPrinter printerWithPapers(const std::vector<Size>& sizes) {
    LocalPrinter printer;
    for (const Size& size : sizes) {
        Paper paper;
        paper.setSystemWidth(size.width);
        paper.setSystemHeight(size.height);
        printer.papers().addObject(paper);
    }
    return printer;
}

TEST(LocalPrinterTest, ClosestPaperSizePicksTheSmallestMismatchAndKeepsTheFirstOfEqualOnes) {
    const Size a4{595, 842};
    const Size letter{612, 792};
    const Size legal{612, 1008};
    struct Case {
        std::vector<Size> papers;
        Size asked;
        Size expected;
    };
    for (const Case& c : std::vector<Case>{
             {{letter, a4, legal}, {595, 842}, a4},
             {{letter, a4, legal}, {600, 1000}, legal},
             {{a4, letter}, {610, 800}, letter},
             // Equal distances: the first paper stays.
             {{{100, 200}, {100, 50}}, {100, 100}, {100, 200}},
             // No papers: the asked size itself.
             {{}, {300, 400}, {300, 400}},
         }) {
        EXPECT_EQ(printerWithPapers(c.papers).closestPaperSize(c.asked), c.expected)
            << c.asked.width << "x" << c.asked.height;
    }
}

TEST(LocalPrinterTest, ClosestPaperSizeSkipsPapersWhoseSizeIsUnknown) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Size a4{595, 842};
    // An unreadable paper first would otherwise win (or divide by zero) before A4 is looked at.
    for (const Size broken :
         {Size{0, 0}, Size{0, 842}, Size{595, -1}, Size{nan, 842}, Size{inf, inf}}) {
        EXPECT_EQ(printerWithPapers({broken, a4}).closestPaperSize({590, 840}), a4)
            << broken.width << "x" << broken.height;
        // With nothing usable the asked size stays.
        EXPECT_EQ(printerWithPapers({broken}).closestPaperSize({590, 840}), (Size{590, 840}));
    }
    // An asked size of zero has no nearest paper either.
    EXPECT_EQ(printerWithPapers({a4}).closestPaperSize({0, 0}), (Size{0, 0}));
}

TEST(LocalPrinterTest, ANewPrinterAdvertisesWhatTheReceivingSideCanHandle) {
    const LocalPrinter printer;
    EXPECT_TRUE(printer.packing());
    pugi::xml_document document;
    const pugi::xml_node full = printer.getServerXml(document);
    const pugi::xml_node capabilities = full.child("details").child("capabilities");
    EXPECT_STREQ(capabilities.attribute("enc-type").value(), "AES,AES0");
    EXPECT_STREQ(capabilities.attribute("transport").value(), "bmp,jpg,png,pdf");
    EXPECT_FALSE(full.child("details").child("paper-formats"));
    EXPECT_EQ(printer.localStatus(), 0);
    EXPECT_FALSE(printer.shared());
    EXPECT_FALSE(printer.hidden());
}

TEST(LocalPrinterTest, ShortAndSettingsFormsRoundTripThroughTheSavedElement) {
    LocalPrinter printer;
    printer.setPublicId("4b7a-id");
    printer.setShareTitle("Laser <2nd floor> & \"copier\"");
    printer.setLocalTitle("Laser_2");
    printer.setHidden(true);
    pugi::xml_document document;
    const pugi::xml_node saved = printer.getConfigXml(document);
    EXPECT_STREQ(saved.attribute("hidden").value(), "true");
    EXPECT_EQ(childText(saved, "local-title"), "Laser_2");
    const pugi::xml_node shortForm = printer.getXml(document);
    EXPECT_FALSE(shortForm.child("local-title"));

    LocalPrinter restored;
    restored.updateFromConfigXml(saved);
    EXPECT_EQ(restored.publicId(), "4b7a-id");
    EXPECT_EQ(restored.shareTitle(), "Laser <2nd floor> & \"copier\"");
    EXPECT_TRUE(restored.hidden());
    // The local title is the print system's, never taken from the file.
    EXPECT_EQ(restored.localTitle(), "");
}

TEST(LocalPrinterTest, ASavedEntryWithoutIdKeepsTheFreshIdentity) {
    LocalPrinter printer;
    const std::string fresh = printer.publicId();
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(
        "<printer hidden=\"false\"><public-id></public-id><title>Kept</title></printer>"));
    printer.updateFromConfigXml(document.child("printer"));
    EXPECT_EQ(printer.publicId(), fresh);
    EXPECT_FALSE(fresh.empty());
    EXPECT_EQ(printer.shareTitle(), "Kept");
}

}  // namespace
}  // namespace velmora::console
