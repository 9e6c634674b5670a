#include "core/model/PrinterMasks.h"
#include "core/model/RemotePrinter.h"
#include "core/xml/XmlHelpers.h"

#include <gtest/gtest.h>

#include "tests/support/XmlTesting.h"

#include <regex>
#include <set>
#include <sstream>

namespace velmora {
namespace {

Paper makePaper(const char* format, const char* title, int width, int height) {
    Paper paper;
    paper.setFormat(format);
    paper.setTitle(title);
    paper.setWidth(width);
    paper.setHeight(height);
    return paper;
}

Bin makeBin(const char* code, const char* title) {
    Bin bin;
    bin.setCode(code);
    bin.setTitle(title);
    return bin;
}

// A printer as this computer shares it.
Printer sharedPrinter() {
    Printer printer;
    printer.setPublicId("0a1b2c3d-0000-4000-8000-00000000abcd");
    printer.setShareTitle("Office <Laser> & Co");
    printer.setLocation("2nd floor");
    printer.setPacking(true);
    printer.setEncryptMask(kEncryptionAes | kEncryptionAes0);
    printer.setTransportMask(58);
    printer.setCollate(false);
    printer.setDuplex(1);
    printer.setCopies(99);
    printer.papers().addObject(makePaper("iso-a4", "A4", 2100, 2970));
    printer.papers().addObject(makePaper("na-letter", "Letter", 2160, 2790));
    printer.bins().addObject(makeBin("tray1", "Tray 1"));
    return printer;
}

TEST(Printer, NewPrintersHaveDistinctLowerCaseUuids) {
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        Printer printer;
        EXPECT_TRUE(std::regex_match(printer.publicId(), uuid)) << printer.publicId();
        seen.insert(printer.publicId());
    }
    EXPECT_EQ(seen.size(), 50u);

    Printer printer;
    EXPECT_EQ(printer.landscape(), 90);
    EXPECT_EQ(printer.copies(), 10);
    EXPECT_TRUE(printer.collate());
    EXPECT_TRUE(printer.color());
    EXPECT_FALSE(printer.packing());
}

TEST(Printer, SharingSideWritesTheServiceElementInItsOrder) {
    pugi::xml_document document;
    sharedPrinter().appendServerXml(document, false, "Letter");
    EXPECT_EQ(test::rawXml(document.document_element()),
              "<printer hidden=\"false\">"
              "<public-id>0a1b2c3d-0000-4000-8000-00000000abcd</public-id>"
              "<title>Office &lt;Laser&gt; &amp; Co</title>"
              "<location>2nd floor</location>"
              "<details>"
              "<capabilities pack=\"true\" enc-type=\"AES,AES0\" transport=\"bmp,jpg,png,pdf\" "
              "collate=\"0\" color=\"1\" duplex=\"1\" copies=\"99\"/>"
              "<landscape>90</landscape>"
              "<paper-formats default=\"Letter\">"
              "<paper name=\"A4\" format=\"iso-a4\" width=\"2100\" height=\"2970\"/>"
              "<paper name=\"Letter\" format=\"na-letter\" width=\"2160\" height=\"2790\"/>"
              "</paper-formats>"
              "<bins><bin name=\"Tray 1\" bin=\"tray1\"/></bins>"
              "</details>"
              "</printer>");
}

TEST(Printer, OptionalDetailsAreLeftOutWhenThereIsNothingToSay) {
    Printer printer;
    printer.setLandscape(0);
    pugi::xml_document document;
    pugi::xml_node element = printer.appendServerXml(document, true, "A4");
    EXPECT_EQ(getAttribute(element, "hidden"), "true");
    pugi::xml_node details = element.child("details");
    ASSERT_TRUE(details);
    EXPECT_TRUE(details.child("capabilities"));
    EXPECT_FALSE(details.child("landscape"));
    EXPECT_FALSE(details.child("paper-formats"));
    EXPECT_FALSE(details.child("bins"));
    EXPECT_EQ(getAttribute(details.child("capabilities"), "enc-type"), "");
}

TEST(RemotePrinter, ReadsBackWhatTheSharingSideWrote) {
    pugi::xml_document document;
    Printer original = sharedPrinter();
    original.appendServerXml(document, false, "Letter");

    RemotePrinter remote;
    remote.parseServerXml(document.document_element());
    EXPECT_EQ(remote.publicId(), original.publicId());
    EXPECT_EQ(remote.shareTitle(), original.shareTitle());
    EXPECT_EQ(remote.location(), original.location());
    EXPECT_EQ(remote.packing(), original.packing());
    EXPECT_EQ(remote.encryptMask(), original.encryptMask());
    EXPECT_EQ(remote.transportMask(), original.transportMask());
    EXPECT_EQ(remote.landscape(), original.landscape());
    EXPECT_EQ(remote.collate(), original.collate());
    EXPECT_EQ(remote.color(), original.color());
    EXPECT_EQ(remote.duplex(), original.duplex());
    EXPECT_EQ(remote.copies(), original.copies());
    ASSERT_EQ(remote.papers().count(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const Paper& got = remote.papers().objectAtIndex(i);
        const Paper& want = original.papers().objectAtIndex(i);
        EXPECT_EQ(got.format(), want.format());
        EXPECT_EQ(got.title(), want.title());
        EXPECT_EQ(got.width(), want.width());
        EXPECT_EQ(got.height(), want.height());
        EXPECT_FALSE(got.custom());
    }
    ASSERT_EQ(remote.bins().count(), 1u);
    EXPECT_EQ(remote.bins().objectAtIndex(0).code(), "tray1");
    EXPECT_EQ(remote.bins().objectAtIndex(0).title(), "Tray 1");
    // The sharing side writes no online state, stamp or owner.
    EXPECT_FALSE(remote.online());
    EXPECT_EQ(remote.updateDate(), "");
    EXPECT_EQ(remote.owner(), Person());
}

constexpr const char* kServicePrinter = R"(
<printer online="True" changed="20240131120000" hidden="false">
  <owner id="42" premium="true"><login>ann</login><nick>Ann</nick></owner>
  <location>Hall</location>
  <title>Ann's <b>inkjet</b></title>
  <public-id>p-1</public-id>
  <details>
    <bins><bin name="Upper" bin="u"/><other/><bin bin="m">Manual</bin></bins>
    <paper-formats default="A4">
      <paper-format name="A4" format="a4" width="2100" height="2970"/>
      <paper name="Custom" format="custom" width="0" height="0"/>
      <note/>
      <paper name="A5" format="a5" width="1480" height="2100"/>
    </paper-formats>
    <capabilities copies="5" transport="pdf,bmp" enc-type="AES0" color="0" collate="yes"
                  duplex="2" pack="false"/>
    <landscape>270</landscape>
  </details>
</printer>)";

TEST(RemotePrinter, ReadsTheServiceElementInAnyOrder) {
    auto document = test::parsedXml(kServicePrinter);
    RemotePrinter printer;
    printer.parseServerXml(document.document_element());

    EXPECT_TRUE(printer.online());
    EXPECT_EQ(printer.updateDate(), "20240131120000");
    EXPECT_EQ(printer.publicId(), "p-1");
    EXPECT_EQ(printer.shareTitle(), "Ann's inkjet");
    EXPECT_EQ(printer.location(), "Hall");
    EXPECT_EQ(printer.owner().serverId(), 42);
    EXPECT_EQ(printer.owner().nick(), "Ann");
    EXPECT_EQ(printer.landscape(), 270);

    ASSERT_EQ(printer.papers().count(), 3u);
    EXPECT_EQ(printer.papers().objectAtIndex(0).format(), "a4");
    EXPECT_TRUE(printer.papers().objectAtIndex(1).custom());
    EXPECT_EQ(printer.papers().objectAtIndex(2).height(), 2100);
    ASSERT_EQ(printer.bins().count(), 2u);
    EXPECT_EQ(printer.bins().objectAtIndex(1).title(), "Manual");

    EXPECT_EQ(printer.copies(), 5);
    EXPECT_EQ(printer.transportMask(), kTransportPdf | kTransportBmp);
    EXPECT_EQ(printer.encryptMask(), kEncryptionAes0);
    EXPECT_FALSE(printer.color());
    EXPECT_TRUE(printer.collate());
    EXPECT_EQ(printer.duplex(), 2);
    EXPECT_FALSE(printer.packing());
}

TEST(RemotePrinter, PartsThatAreMissingKeepOrResetAsTheirRulesSay) {
    auto full = test::parsedXml(kServicePrinter);
    RemotePrinter printer;
    printer.parseServerXml(full.document_element());

    // No details: papers, bins and capabilities stay; id, stamp and online are always read;
    // title and location only when present; the owner only when present.
    auto bare = test::parsedXml(
        "<printer changed='2'><public-id>p-1</public-id><title>New</title></printer>");
    printer.parseServerXml(bare.document_element());
    EXPECT_EQ(printer.shareTitle(), "New");
    EXPECT_EQ(printer.location(), "Hall");
    EXPECT_EQ(printer.updateDate(), "2");
    EXPECT_FALSE(printer.online());
    EXPECT_EQ(printer.owner().login(), "ann");
    EXPECT_EQ(printer.papers().count(), 3u);
    EXPECT_EQ(printer.bins().count(), 2u);
    EXPECT_EQ(printer.landscape(), 270);
    EXPECT_EQ(printer.copies(), 5);

    // Details without paper formats, bins, capabilities or landscape: the lists are emptied,
    // landscape reads 0, the capabilities keep their values.
    auto emptyDetails = test::parsedXml("<printer><details/></printer>");
    printer.parseServerXml(emptyDetails.document_element());
    EXPECT_EQ(printer.publicId(), "");
    EXPECT_EQ(printer.papers().count(), 0u);
    EXPECT_EQ(printer.bins().count(), 0u);
    EXPECT_EQ(printer.landscape(), 0);
    EXPECT_EQ(printer.copies(), 5);
    EXPECT_EQ(printer.encryptMask(), kEncryptionAes0);
    EXPECT_EQ(printer.owner().serverId(), 42);

    // A present but empty capabilities element reads every capability as unset.
    auto emptyCapabilities =
        test::parsedXml("<printer><details><capabilities/></details></printer>");
    printer.parseServerXml(emptyCapabilities.document_element());
    EXPECT_EQ(printer.copies(), 0);
    EXPECT_FALSE(printer.collate());
    EXPECT_EQ(printer.transportMask(), 0);
}

TEST(RemotePrinter, CopiesKeepOwnersOfTheirOwn) {
    auto document = test::parsedXml(kServicePrinter);
    RemotePrinter printer;
    printer.parseServerXml(document.document_element());
    RemotePrinter copy = printer;
    auto other = test::parsedXml("<printer><owner id='7'/><title>Other</title></printer>");
    copy.parseServerXml(other.document_element());
    EXPECT_EQ(printer.owner().serverId(), 42);
    EXPECT_EQ(copy.owner().serverId(), 7);
    EXPECT_EQ(printer.shareTitle(), "Ann's inkjet");
    // The printer keeps its owner after the document it came from is gone.
    document.reset();
    EXPECT_EQ(printer.owner().nick(), "Ann");
}

TEST(RemotePrinter, PaperAndBinListsStopAtTheirBounds) {
    std::string papers;
    for (size_t i = 0; i < Printer::kMaxPapers + 50; ++i)
        papers += "<paper format='f" + std::to_string(i) + "' width='1' height='1'/>";
    std::string bins;
    for (size_t i = 0; i < Printer::kMaxBins + 50; ++i)
        bins += "<bin bin='b" + std::to_string(i) + "'/>";
    auto document =
        test::parsedXml("<printer><public-id>p</public-id><details><paper-formats>" + papers +
                        "</paper-formats><bins>" + bins + "</bins></details></printer>");
    RemotePrinter printer;
    printer.parseServerXml(document.document_element());
    ASSERT_EQ(printer.papers().count(), Printer::kMaxPapers);
    ASSERT_EQ(printer.bins().count(), Printer::kMaxBins);
    // The first ones listed are the ones kept.
    EXPECT_EQ(printer.papers().objectAtIndex(Printer::kMaxPapers - 1).format(),
              "f" + std::to_string(Printer::kMaxPapers - 1));
    EXPECT_EQ(printer.papers().getPaper("f" + std::to_string(Printer::kMaxPapers)), nullptr);
    EXPECT_EQ(printer.bins().objectAtIndex(0).code(), "b0");
}

}  // namespace
}  // namespace velmora
