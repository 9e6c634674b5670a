#include <gtest/gtest.h>

#include "console/jobs/LocalPrinterArray.h"
#include "core/xml/XmlHelpers.h"
#include "tests/support/PrivateCupsd.h"
#include "tests/support/ScratchDirectory.h"

#include <atomic>
#include <memory>
#include <regex>
#include <set>
#include <thread>

namespace velmora::console {
namespace {

using test::PrivateCupsd;

// One private scheduler for the suite, with a queue of each kind the console meets.
class LocalPrinterArrayTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        cupsd_ = std::make_unique<PrivateCupsd>();
        if (!cupsd_->running())
            return;
        const std::string ppdDir = VELMORA_FIXTURE_PPD_DIR;
        addQueue({"-p", "Office_Duplex", "-P", ppdDir + "/duplex-laser.ppd", "-L",
                  "Room 12, \"north\" <wing>", "-D", "Office duplex"});
        addQueue({"-p", "Plain_Inkjet", "-P", ppdDir + "/simplex-inkjet.ppd"});
        addQueue({"-p", "Stopped_Inkjet", "-P", ppdDir + "/simplex-inkjet.ppd"});
        addQueue({"-p", "Velmora_0f1e2d3c", "-P", ppdDir + "/own-queue.ppd"});
        addQueue({"-p", "Raw_Queue"});
        const auto disabled = cupsd_->command({"cupsdisable", "Stopped_Inkjet"});
        if (disabled.exitStatus != 0)
            setupFailure_ += "cupsdisable failed: " + disabled.standardError;
    }
    static void TearDownTestSuite() { cupsd_.reset(); }

    static void addQueue(std::vector<std::string> options) {
        std::vector<std::string> arguments = {"lpadmin"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.insert(arguments.end(), {"-v", "file:///dev/null", "-E"});
        const auto added = cupsd_->command(arguments);
        if (added.exitStatus != 0)
            setupFailure_ += "lpadmin failed: " + added.standardError;
    }

    void SetUp() override {
        if (!cupsd_->running())
            GTEST_SKIP() << "No private CUPS scheduler for this test: " << cupsd_->failure();
        ASSERT_EQ(setupFailure_, "");
        ASSERT_TRUE(printers_.loadFromSystem());
    }

    LocalPrinter printer(const std::string& localTitle) const {
        for (const LocalPrinter& printer : printers_.allPrinters()) {
            if (printer.localTitle() == localTitle)
                return printer;
        }
        ADD_FAILURE() << localTitle << " is not listed";
        return {};
    }

    static inline std::unique_ptr<PrivateCupsd> cupsd_;
    static inline std::string setupFailure_;
    LocalPrinterArray printers_{cupsd_ ? cupsd_->socketPath() : ""};
};

TEST_F(LocalPrinterArrayTest, ListsEveryQueueButOurOwnInTheSchedulersOrder) {
    std::vector<std::string> titles;
    for (const LocalPrinter& printer : printers_.allPrinters())
        titles.push_back(printer.localTitle());
    EXPECT_EQ(titles, (std::vector<std::string>{"Office_Duplex", "Plain_Inkjet", "Raw_Queue",
                                                "Stopped_Inkjet"}));
}

TEST_F(LocalPrinterArrayTest, ReadsDescriptionLocationStateAndDuplex) {
    struct Expected {
        std::string localTitle;
        std::string shareTitle;
        std::string location;
        uint16_t status;
        int duplex;
    };
    for (const Expected& expected : std::vector<Expected>{
             {"Office_Duplex", "Office duplex", "Room 12, \"north\" <wing>", 3, 1},
             {"Plain_Inkjet", "Plain_Inkjet", "", 3, 0},
             {"Stopped_Inkjet", "Stopped_Inkjet", "", 5, 0},
             // No PPD at all: listed, without duplex.
             {"Raw_Queue", "Raw_Queue", "", 3, 0},
         }) {
        SCOPED_TRACE(expected.localTitle);
        const LocalPrinter listed = printer(expected.localTitle);
        EXPECT_EQ(listed.shareTitle(), expected.shareTitle);
        EXPECT_EQ(listed.location(), expected.location);
        EXPECT_EQ(listed.localStatus(), expected.status);
        EXPECT_EQ(listed.duplex(), expected.duplex);
    }
}

TEST_F(LocalPrinterArrayTest, ReadsPapersInPointsWithTheirNamesAndTheDefault) {
    struct ExpectedPaper {
        std::string format;
        std::string title;
        double width;
        double height;
    };
    const std::vector<std::pair<std::string, std::vector<ExpectedPaper>>> cases = {
        {"Office_Duplex",
         {{"iso_a4_210x297mm", "A4", 595.28, 841.89},
          {"na_letter_8.5x11in", "US Letter", 612, 792}}},
        {"Plain_Inkjet",
         {{"na_letter_8.5x11in", "US Letter", 612, 792},
          {"na_legal_8.5x14in", "US Legal", 612, 1008}}},
    };
    for (const auto& [title, papers] : cases) {
        SCOPED_TRACE(title);
        const LocalPrinter listed = printer(title);
        ASSERT_EQ(listed.papers().count(), papers.size());
        for (size_t i = 0; i < papers.size(); ++i) {
            const Paper& paper = listed.papers().objectAtIndex(i);
            EXPECT_EQ(paper.format(), papers[i].format);
            EXPECT_EQ(paper.title(), papers[i].title);
            EXPECT_NEAR(paper.systemWidth(), papers[i].width, 0.5);
            EXPECT_NEAR(paper.systemHeight(), papers[i].height, 0.5);
        }
    }
    EXPECT_EQ(printer("Office_Duplex").defaultPaperName(), "A4");
    EXPECT_EQ(printer("Plain_Inkjet").defaultPaperName(), "US Legal");
    // A queue without a PPD tells no papers; its full form then has no "paper-formats".
    EXPECT_EQ(printer("Raw_Queue").papers().count(), 0u);
}

// The sharing identities go through a real profile file and come back after a reload, which
// gives every printer a fresh identity first.
TEST_F(LocalPrinterArrayTest, SavedIdentitiesComeBackAfterAReload) {
    printers_.updatePrinter("Office_Duplex", [](LocalPrinter& printer) {
        printer.setShareTitle("Front desk & \"main\" <laser>");
        printer.setHidden(true);
    });
    const LocalPrinter office = printer("Office_Duplex");
    const std::string plainId = printer("Plain_Inkjet").publicId();
    pugi::xml_document saved;
    printers_.saveToConfig(saved.append_child("config"));
    test::ScratchDirectory scratch;
    std::string error;
    ASSERT_TRUE(writeXmlFileAtomically(saved, scratch.path() / "config.xml", error)) << error;

    ASSERT_TRUE(printers_.loadFromSystem());
    EXPECT_NE(printer("Office_Duplex").publicId(), office.publicId());
    pugi::xml_document read;
    ASSERT_TRUE(read.load_file((scratch.path() / "config.xml").c_str()));
    printers_.updateFromConfig(read.child("config").child("printers"));

    const LocalPrinter restored = printer("Office_Duplex");
    EXPECT_EQ(restored.publicId(), office.publicId());
    EXPECT_EQ(restored.shareTitle(), "Front desk & \"main\" <laser>");
    EXPECT_TRUE(restored.hidden());
    EXPECT_EQ(printer("Plain_Inkjet").publicId(), plainId);
}

TEST_F(LocalPrinterArrayTest, APrinterWithoutSavedEntryKeepsAFreshIdentityAndLaterEntriesWin) {
    pugi::xml_document saved;
    ASSERT_TRUE(saved.load_string(R"(<printers>
        <printer hidden="false"><public-id>first</public-id><title>First</title>
            <local-title>Plain_Inkjet</local-title></printer>
        <printer hidden="true"><public-id>second</public-id><title>Second</title>
            <local-title>Plain_Inkjet</local-title></printer>
        <printer hidden="false"><public-id>gone</public-id><title>Gone</title>
            <local-title>Removed_Queue</local-title></printer>
    </printers>)"));
    printers_.updateFromConfig(saved.child("printers"));

    const LocalPrinter plain = printer("Plain_Inkjet");
    EXPECT_EQ(plain.publicId(), "second");
    EXPECT_EQ(plain.shareTitle(), "Second");
    EXPECT_TRUE(plain.hidden());
    const LocalPrinter office = printer("Office_Duplex");
    EXPECT_TRUE(std::regex_match(office.publicId(),
                                 std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-"
                                            "[0-9a-f]{12}")))
        << office.publicId();
    EXPECT_EQ(office.shareTitle(), "Office duplex");

    pugi::xml_document resaved;
    printers_.saveToConfig(resaved.append_child("config"));
    EXPECT_FALSE(resaved.select_node("//printer[local-title='Removed_Queue']"));
    EXPECT_EQ(resaved.select_nodes("/config/printers/printer").size(), 4u);
}

TEST_F(LocalPrinterArrayTest, NearbyClientsSeeOnlySharedVisiblePrintersInFullForm) {
    const std::string officeId = printer("Office_Duplex").publicId();
    const std::string plainId = printer("Plain_Inkjet").publicId();
    const std::string stoppedId = printer("Stopped_Inkjet").publicId();
    pugi::xml_document lookup;
    ASSERT_TRUE(lookup.load_string(("<lookup><printer><public-id>" + officeId +
                                    "</public-id></printer><printer><public-id>" + stoppedId +
                                    "</public-id></printer></lookup>")
                                       .c_str()));
    printers_.parseLookupXml(lookup.child("lookup"));
    printers_.updatePrinter("Stopped_Inkjet", [](LocalPrinter& p) { p.setHidden(true); });

    pugi::xml_document document;
    const pugi::xml_node list = printers_.getPtpXml(document);
    ASSERT_EQ(list.select_nodes("printer").size(), 1u);
    const pugi::xml_node office = list.child("printer");
    EXPECT_EQ(childText(office, "public-id"), officeId);
    EXPECT_EQ(childText(office, "location"), "Room 12, \"north\" <wing>");
    const pugi::xml_node capabilities = office.child("details").child("capabilities");
    EXPECT_STREQ(capabilities.attribute("enc-type").value(), "AES,AES0");
    EXPECT_STREQ(capabilities.attribute("transport").value(), "bmp,jpg,png,pdf");
    EXPECT_STREQ(capabilities.attribute("pack").value(), "true");
    EXPECT_STREQ(capabilities.attribute("duplex").value(), "1");
    const pugi::xml_node formats = office.child("details").child("paper-formats");
    EXPECT_STREQ(formats.attribute("default").value(), "A4");
    const pugi::xml_node a4 = formats.child("paper");
    EXPECT_STREQ(a4.attribute("name").value(), "A4");
    EXPECT_STREQ(a4.attribute("format").value(), "iso_a4_210x297mm");
    EXPECT_EQ(a4.attribute("width").as_int(), 2099);
    EXPECT_EQ(a4.attribute("height").as_int(), 2970);
    EXPECT_FALSE(office.child("details").child("bins"));

    // The login reply without a lookup element: nothing is shared any more.
    printers_.parseLookupXml(pugi::xml_node());
    pugi::xml_document none;
    EXPECT_FALSE(printers_.getPtpXml(none).first_child());
    EXPECT_FALSE(printers_.getPrinter(plainId)->shared());
}

TEST_F(LocalPrinterArrayTest, LookupNamesEveryPrinterByPublicIdOnly) {
    pugi::xml_document document;
    const pugi::xml_node lookup = printers_.getLookupXml(document);
    std::vector<std::string> ids;
    for (pugi::xml_node entry : lookup.children("printer")) {
        EXPECT_EQ(std::distance(entry.begin(), entry.end()), 1);
        ids.push_back(childText(entry, "public-id"));
    }
    std::vector<std::string> expected;
    for (const LocalPrinter& printer : printers_.allPrinters())
        expected.push_back(printer.publicId());
    EXPECT_EQ(ids, expected);
}

TEST_F(LocalPrinterArrayTest, AnUnreachableSchedulerLeavesNoPrinters) {
    test::ScratchDirectory scratch;
    LocalPrinterArray printers((scratch.path() / "no-such.sock").string());
    EXPECT_FALSE(printers.loadFromSystem());
    EXPECT_EQ(printers.count(), 0u);
}

// The print worker looks printers up while the main thread rebuilds the list (and gives the
// printers their saved identities back, as at start-up): every answer is a whole printer of its
// own, never one being torn down, and changing it changes nothing in the list.
TEST_F(LocalPrinterArrayTest, LookupsFromAnotherThreadGetWholeCopiesDuringRebuilds) {
    pugi::xml_document saved;
    printers_.saveToConfig(saved);
    const std::string officeId = printer("Office_Duplex").publicId();
    std::atomic<bool> done = false;
    std::atomic<int> found = 0;
    std::atomic<int> torn = 0;
    std::thread worker([&] {
        while (!done) {
            std::optional<LocalPrinter> copy = printers_.getPrinter(officeId);
            if (!copy)
                continue;
            ++found;
            if (copy->localTitle() != "Office_Duplex" || copy->papers().count() != 2)
                ++torn;
            copy->setShareTitle("changed by the worker");
        }
    });
    for (int reload = 0; reload < 20; ++reload) {
        ASSERT_TRUE(printers_.loadFromSystem());
        printers_.updateFromConfig(saved.child("printers"));
    }
    done = true;
    worker.join();
    EXPECT_GT(found.load(), 0);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(printer("Office_Duplex").shareTitle(), "Office duplex");
}

}  // namespace
}  // namespace velmora::console
