#include "core/model/JobData.h"
#include "core/model/PrinterMasks.h"
#include "core/xml/XmlHelpers.h"

#include <gtest/gtest.h>

#include "tests/support/XmlTesting.h"

#include <sstream>

namespace velmora {
namespace {

std::string senderForm(const JobData& job) {
    pugi::xml_document document;
    return test::rawXml(job.getXml(document));
}

// A job as the sender fills it for an encrypted, packed, custom-size print.
JobData fullJob() {
    JobData job;
    job.setPrinterId("p-1");
    job.setFormat("custom");
    job.setCustomWidth(2100);
    job.setCustomHeight(2970);
    job.setOrientation(JobData::kLandscape);
    job.setBin("tray1");
    job.setCopies(3);
    job.setCollate(true);
    job.setPacked(true);
    job.setTitle("Report & Notes");
    job.setDuplex(2);
    job.setEncryption(kEncryptionAes0);
    job.setTransport(kTransportBmp);
    job.setNotify(true);
    return job;
}

TEST(JobData, SenderFormWritesEveryPartInOrder) {
    EXPECT_EQ(senderForm(fullJob()),
              "<job><printer>p-1</printer><paper-format>custom</paper-format>"
              "<width>2100</width><height>2970</height>"
              "<paper-orientation>2</paper-orientation><bin>tray1</bin><copies>3</copies>"
              "<collate>1</collate><pack>1</pack><document>Report &amp; Notes</document>"
              "<duplex>2</duplex><encrypt>1</encrypt><encrypt-method>AES0</encrypt-method>"
              "<transport>bmp</transport><print-notify>1</print-notify></job>");
}

TEST(JobData, SenderFormLeavesOutWhatIsNotSet) {
    JobData job;
    job.setPrinterId("p-1");
    job.setFormat("a4");
    job.setCopies(1);
    job.setTransport(kTransportPdf);
    EXPECT_EQ(senderForm(job),
              "<job><printer>p-1</printer><paper-format>a4</paper-format>"
              "<paper-orientation>1</paper-orientation><document/><duplex>0</duplex>"
              "<transport>pdf</transport></job>");

    // Negative custom sizes are not sizes; encryption and copies as the sender sets them.
    job.setCustomWidth(-5);
    job.setCustomHeight(0);
    job.setCopies(2);
    job.setEncryption(kEncryptionAes);
    pugi::xml_document document;
    pugi::xml_node element = job.getXml(document);
    EXPECT_FALSE(element.child("width"));
    EXPECT_FALSE(element.child("height"));
    EXPECT_EQ(childText(element, "copies"), "2");
    EXPECT_EQ(childText(element, "encrypt-method"), "AES");
}

constexpr const char* kServiceJob = R"(
<job id="1234" started="240131081500">
  <printing-person id="17" premium="false"><nick>Bob</nick></printing-person>
  <premium>true</premium>
  <printer>p-9</printer>
  <paper-format>iso-a4</paper-format>
  <paper-orientation>2</paper-orientation>
  <bin>upper</bin>
  <copies>4</copies>
  <duplex>1</duplex>
  <collate>1</collate>
  <pack>1</pack>
  <document>Minutes</document>
  <encrypt-method>AES0</encrypt-method>
  <transport>pdf</transport>
  <width>100</width>
  <print-notify>1</print-notify>
  <page page-number="1"><url>https://files.example/1</url></page>
  <page page-number="2"><url>https://files.example/2</url></page>
</job>)";

TEST(JobData, ReadsTheServiceForm) {
    auto document = test::parsedXml(kServiceJob);
    JobData job;
    job.parse(document.document_element());
    EXPECT_EQ(job.serverId(), 1234);
    EXPECT_EQ(job.started(), "240131081500");
    EXPECT_EQ(job.sender().serverId(), 17);
    EXPECT_EQ(job.sender().nick(), "Bob");
    EXPECT_TRUE(job.premium());
    EXPECT_EQ(job.printerId(), "p-9");
    EXPECT_EQ(job.format(), "iso-a4");
    EXPECT_EQ(job.orientation(), JobData::kLandscape);
    EXPECT_EQ(job.bin(), "upper");
    EXPECT_EQ(job.copies(), 4);
    EXPECT_EQ(job.duplex(), 1);
    EXPECT_TRUE(job.collate());
    EXPECT_TRUE(job.packed());
    EXPECT_EQ(job.title(), "Minutes");
    EXPECT_EQ(job.encryption(), kEncryptionAes0);
    EXPECT_EQ(job.transport(), kTransportPdf);
    // Parts of the sender form that the service form does not carry.
    EXPECT_EQ(job.customWidth(), 0);
    EXPECT_FALSE(job.notify());
    ASSERT_EQ(job.pages().size(), 2u);
    EXPECT_EQ(job.pages()[1].number(), 2);
    EXPECT_EQ(job.pages()[1].url(), "https://files.example/2");

    // Reading again replaces the page list rather than adding to it.
    job.parse(document.document_element());
    EXPECT_EQ(job.pages().size(), 2u);
}

TEST(JobData, MissingOrDamagedPartsReadAsTheirDefaults) {
    auto document = test::parsedXml(kServiceJob);
    JobData job;
    job.parse(document.document_element());

    auto bare = test::parsedXml("<job><page url='https://files.example/9' page-number='x'/></job>");
    job.parse(bare.document_element());
    EXPECT_EQ(job.serverId(), 0);
    EXPECT_EQ(job.copies(), 1);
    EXPECT_EQ(job.transport(), kTransportEmf);
    EXPECT_EQ(job.encryption(), 0);
    EXPECT_EQ(job.orientation(), JobData::kPortrait);
    EXPECT_EQ(job.printerId(), "");
    EXPECT_EQ(job.started(), "");
    EXPECT_FALSE(job.premium());
    EXPECT_FALSE(job.collate());
    // The sender stays as it was when the job names none.
    EXPECT_EQ(job.sender().nick(), "Bob");
    // A URL given as an attribute is not where the service puts it.
    ASSERT_EQ(job.pages().size(), 1u);
    EXPECT_EQ(job.pages()[0].url(), "");
    EXPECT_EQ(job.pages()[0].number(), 0);

    JobData empty;
    empty.parse(pugi::xml_node());
    EXPECT_EQ(empty.copies(), 1);
    EXPECT_EQ(empty.transport(), kTransportEmf);
    EXPECT_TRUE(empty.pages().empty());
}

TEST(JobData, ReadsCopiesEncryptionAndOrientationByTheirRules) {
    struct Case {
        const char* child;
        int copies;
        int encryption;
        int64_t orientation;
    };
    const Case cases[] = {
        {"<copies>0</copies>", 1, 0, 0},
        {"<copies>-3</copies>", 1, 0, 0},
        {"<copies>1</copies><encrypt-method>AES</encrypt-method>", 1, 1, 0},
        {"<encrypt-method>aes0</encrypt-method>", 1, 0, 0},
        {"<encrypt-method>RSA</encrypt-method>", 1, 4, 0},
        {"<encrypt-method>AES,AES0</encrypt-method>", 1, 0, 0},
        {"<paper-orientation>1</paper-orientation>", 1, 0, 0},
        {"<paper-orientation>0</paper-orientation>", 1, 0, 0},
        {"<paper-orientation>3</paper-orientation>", 1, 0, 0},
        {"<paper-orientation>2</paper-orientation>", 1, 0, 1},
    };
    for (const Case& c : cases) {
        auto document = test::parsedXml(std::string("<job>") + c.child + "</job>");
        JobData job;
        job.parse(document.document_element());
        EXPECT_EQ(job.copies(), c.copies) << c.child;
        EXPECT_EQ(job.encryption(), c.encryption) << c.child;
        EXPECT_EQ(job.orientation(), c.orientation) << c.child;
    }
}

// Ids, page numbers, copies and codes steer what is printed, stored and reported; a text that
// is not exactly a number reads as if it were missing, never as its leading digits.
TEST(JobData, NumbersFromTheServiceAreReadInFullOrNotAtAll) {
    struct Case {
        std::string text;
        int id;
        int copies;
        int duplex;
        int64_t orientation;
        int pageNumber;
    };
    const Case cases[] = {
        {"2", 2, 2, 2, 1, 2},
        {"12abc", 0, 1, 0, 0, 0},
        {"99999999999", 0, 1, 0, 0, 0},
        {"2147483647", 2147483647, 2147483647, 2147483647, 0, 2147483647},
        {" 2", 0, 1, 0, 0, 0},
        {"2 ", 0, 1, 0, 0, 0},
        {"+2", 0, 1, 0, 0, 0},
        {"2.0", 0, 1, 0, 0, 0},
        {"0x2", 0, 1, 0, 0, 0},
        {"-7", -7, 1, -7, 0, -7},
    };
    for (const Case& c : cases) {
        const std::string& n = c.text;
        auto document = test::parsedXml("<job id='" + n + "'><copies>" + n + "</copies><duplex>" +
                                        n + "</duplex><paper-orientation>" + n +
                                        "</paper-orientation><page page-number='" + n +
                                        "'><url>u</url></page></job>");
        JobData job;
        job.parse(document.document_element());
        EXPECT_EQ(job.serverId(), c.id) << n;
        EXPECT_EQ(job.copies(), c.copies) << n;
        EXPECT_EQ(job.duplex(), c.duplex) << n;
        EXPECT_EQ(job.orientation(), c.orientation) << n;
        ASSERT_EQ(job.pages().size(), 1u);
        EXPECT_EQ(job.pages()[0].number(), c.pageNumber) << n;
    }
}

TEST(JobData, ProfileFormKeepsIdSenderAndPages) {
    auto service = test::parsedXml(kServiceJob);
    JobData job;
    job.parse(service.document_element());
    job.pages().emplace_back(3, "");

    pugi::xml_document document;
    pugi::xml_node element = job.getConfigXml(document);
    EXPECT_EQ(getAttribute(element, "id"), "1234");
    pugi::xml_node person = element.child("printing-person");
    EXPECT_EQ(getAttribute(person, "id"), "17");
    EXPECT_EQ(childText(person, "nick"), "Bob");
    // The sender form comes first, then the person, then the pages.
    EXPECT_EQ(std::string(element.first_child().name()), "printer");
    EXPECT_EQ(std::string(person.previous_sibling().name()), "transport");
    EXPECT_EQ(test::rawXml(person.next_sibling()),
              "<page page-number=\"1\" url=\"https://files.example/1\"/>");
    EXPECT_EQ(test::rawXml(element.last_child()), "<page page-number=\"3\" url=\"\"/>");

    // Reloaded from the written text the job is the same, its pages without URLs.
    std::string error;
    pugi::xml_document reloaded;
    ASSERT_TRUE(parseXml(reloaded, xmlToString(document), error)) << error;
    JobData restored;
    restored.parse(reloaded.document_element());
    EXPECT_EQ(restored.serverId(), 1234);
    EXPECT_EQ(restored.sender().serverId(), 17);
    EXPECT_EQ(restored.sender().nick(), "Bob");
    EXPECT_EQ(restored.title(), "Minutes");
    EXPECT_EQ(restored.orientation(), JobData::kLandscape);
    EXPECT_EQ(restored.copies(), 4);
    ASSERT_EQ(restored.pages().size(), 3u);
    EXPECT_EQ(restored.pages()[2].number(), 3);
    EXPECT_EQ(restored.pages()[0].url(), "");

    // A job that never had a sender still names one: the empty person, with its id.
    JobData direct;
    pugi::xml_document directDocument;
    EXPECT_EQ(getAttribute(direct.getConfigXml(directDocument).child("printing-person"), "id"),
              "0");

    // Copies of a job share one sender object.
    JobData copy = restored;
    copy.sender().setServerId(-1);
    EXPECT_EQ(restored.sender().serverId(), -1);
}

TEST(JobData, SenderIsReadAsAPersonWhateverArrives) {
    std::string nested = "<job><printing-person id='-1' premium='1'><nick>N<b>ick</b></nick>";
    for (int i = 0; i < 1000; ++i)
        nested += "<x>";
    nested += "deep";
    for (int i = 0; i < 1000; ++i)
        nested += "</x>";
    nested += "<!-- note --></printing-person></job>";
    auto document = test::parsedXml(nested);
    JobData job;
    job.parse(document.document_element());
    pugi::xml_document saved;
    pugi::xml_node person = job.getConfigXml(saved).child("printing-person");
    EXPECT_EQ(test::rawXml(person),
              "<printing-person id=\"-1\"><mail/><login/><nick>Nick</nick><name/><phone/>"
              "<country/><city/><state/><address/><zip/></printing-person>");
    EXPECT_TRUE(job.sender().premium());
}

}  // namespace
}  // namespace velmora
