#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <regex>

#include "console/remote/PpdGenerator.h"
#include "core/config/Config.h"
#include "core/model/RemotePrinterArray.h"
#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::ChildProcess;
using test::ScratchDirectory;

Paper paper(std::string format, std::string title, double width, double height,
            bool custom = false) {
    Paper entry;
    entry.setFormat(std::move(format));
    entry.setTitle(std::move(title));
    entry.setSystemWidth(width);
    entry.setSystemHeight(height);
    entry.setCustom(custom);
    return entry;
}

Bin bin(std::string code, std::string title) {
    Bin entry;
    entry.setCode(std::move(code));
    entry.setTitle(std::move(title));
    return entry;
}

// The shared folder in a scratch folder, one remote printer that the tests fill.
class PpdGeneratorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previousSink_ = Logger::setSink(log_);
        printer_ = newPrinter();
        config_.setDefaultPrinterId("p1");
        config_.setCustomPaperWidth(1000);
        config_.setCustomPaperHeight(1500);
    }
    void TearDown() override { Logger::setSink(previousSink_); }

    // A fresh list holding one printer "p1", as the service describes it; the tests then give
    // it papers and trays.
    std::shared_ptr<RemotePrinter> newPrinter() {
        pugi::xml_document document;
        document.load_string("<favorites><printer><public-id>p1</public-id></printer></favorites>");
        printers_.parse(document.child("favorites"), false);
        return printers_.getPrinter("p1");
    }
    const RemotePrinterArray& printers() {
        if (!printer_)
            printers_.removeAllObjects();
        return printers_;
    }

    std::string generate() {
        std::string error;
        EXPECT_TRUE(PpdGenerator::generatePPDFile(config_, printers(), error)) << error;
        return ScratchDirectory::readFile(config_.getPPDFileName());
    }

    // cupstestppd, the print system's own checker, on the file as written.
    void expectCupsTestPpdPasses() const {
        const auto checked =
            ChildProcess::run({"cupstestppd", config_.getPPDFileName().string()}, scratch_.path());
        EXPECT_EQ(checked.exitStatus, 0) << checked.standardOutput << checked.standardError
                                         << ScratchDirectory::readFile(config_.getPPDFileName());
    }

    static std::vector<std::string> linesStartingWith(const std::string& text,
                                                      const std::string& start) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind(start, 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }

    ScratchDirectory scratch_{"velmora-ppd"};
    Config config_{scratch_.path()};
    RemotePrinterArray printers_;
    std::shared_ptr<RemotePrinter> printer_;
    std::shared_ptr<CaptureLogSink> log_ = std::make_shared<CaptureLogSink>();
    std::shared_ptr<LogSink> previousSink_;
};

TEST_F(PpdGeneratorTest, SizesAreTruncatedPointsInEverySection) {
    printer_->papers().addObject(paper("A4", "A4", 595.27, 841.89));
    printer_->papers().addObject(paper("Custom", "Own size", 0, 0, true));
    config_.setDefaultPaperFormat("A4");
    const std::string text = generate();
    for (const char* expected :
         {"*DefaultPageSize: A4\n",
          "*PageSize A4/A4: \"<</PageSize[595 841]/ImagingBBox null>>setpagedevice\"\n",
          "*PageRegion A4/A4: \"<</PageRegion[595 841]/ImagingBBox null>>setpagedevice\"\n",
          "*ImageableArea A4/A4: \"0 0 595 841\"\n", "*PaperDimension A4/A4: \"595 841\"\n",
          // 1000 x 1500 tenths of a millimetre from the setup.
          "*PageSize Custom/Own size: \"<</PageSize[283 425]/ImagingBBox null>>setpagedevice\"\n",
          "*PaperDimension Custom/Own size: \"283 425\"\n"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
    }
    expectCupsTestPpdPasses();
}

TEST_F(PpdGeneratorTest, AsksForPassThroughEightBitRgbRasterWithEveryCopyRendered) {
    printer_->papers().addObject(paper("Letter", "Letter", 612, 792));
    const std::string text = generate();
    EXPECT_EQ(linesStartingWith(text, "*cupsFilter2:"),
              std::vector<std::string>{
                  "*cupsFilter2: \"application/vnd.cups-raster application/vnd.cups-raster 0 -\""});
    EXPECT_EQ(linesStartingWith(text, "*ColorModel "),
              std::vector<std::string>{"*ColorModel RGB/Color: \"<</cupsColorOrder 0/"
                                       "cupsColorSpace 1/cupsBitsPerColor 8>>setpagedevice\""});
    EXPECT_EQ(linesStartingWith(text, "*DefaultResolution:"),
              std::vector<std::string>{"*DefaultResolution: 300dpi"});
    EXPECT_EQ(linesStartingWith(text, "*cupsManualCopies:"),
              std::vector<std::string>{"*cupsManualCopies: True"});
    struct stat info {};
    ASSERT_EQ(::stat(config_.getPPDFileName().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    expectCupsTestPpdPasses();
}

// Without a default that the printer offers (or without any printer at all) the PPD still
// names a default among its choices, which the print system requires.
TEST_F(PpdGeneratorTest, DefaultsAreAlwaysAmongTheChoices) {
    struct Case {
        const char* name;
        std::vector<Paper> papers;
        std::vector<Bin> bins;
        std::string defaultFormat;
        std::string defaultBin;
        bool noPrinter;
        std::string expectedPaper;
        std::string expectedSlot;  // "" when no input slot choice is written
    };
    const std::vector<Case> cases = {
        {"default paper not offered",
         {paper("A4", "A4", 595, 842), paper("A5", "A5", 420, 595)},
         {bin("Upper", "Upper tray")},
         "Letter",
         "Lower",
         false,
         "A4",
         "Upper"},
        {"offered default",
         {paper("A4", "A4", 595, 842), paper("A5", "A5", 420, 595)},
         {bin("Upper", "Upper"), bin("Lower", "Lower")},
         "A5",
         "Lower",
         false,
         "A5",
         "Lower"},
        {"printer without papers", {}, {}, "A4", "", false, "default", ""},
        {"no remote printer", {}, {}, "A4", "", true, "default", ""},
        {"empty codes",
         {paper("", "Plain", 612, 792)},
         {bin("", "Tray")},
         "",
         "",
         false,
         "unknown",
         "unknown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        printer_ = c.noPrinter ? nullptr : newPrinter();
        if (printer_) {
            for (const Paper& entry : c.papers)
                printer_->papers().addObject(entry);
            for (const Bin& entry : c.bins)
                printer_->bins().addObject(entry);
        }
        config_.setDefaultPaperFormat(c.defaultFormat);
        config_.setDefaultBinCode(c.defaultBin);
        const std::string text = generate();
        EXPECT_EQ(linesStartingWith(text, "*DefaultPageSize:"),
                  std::vector<std::string>{"*DefaultPageSize: " + c.expectedPaper});
        if (c.expectedSlot.empty()) {
            EXPECT_TRUE(linesStartingWith(text, "*InputSlot").empty());
        } else {
            EXPECT_EQ(linesStartingWith(text, "*DefaultInputSlot:"),
                      std::vector<std::string>{"*DefaultInputSlot: " + c.expectedSlot});
        }
        expectCupsTestPpdPasses();
    }
}

// The duplex PPD is shipped, not generated; it asks for the same raster and offers duplex.
TEST_F(PpdGeneratorTest, TheShippedDuplexPpdPassesAndAsksForTheSameRaster) {
    const auto checked = ChildProcess::run({"cupstestppd", VELMORA_DUPLEX_PPD}, scratch_.path());
    EXPECT_EQ(checked.exitStatus, 0) << checked.standardOutput;
    const std::string text = ScratchDirectory::readFile(VELMORA_DUPLEX_PPD);
    printer_->papers().addObject(paper("Letter", "Letter", 612, 792));
    const std::string generated = generate();
    for (const char* key :
         {"*cupsFilter2:", "*ColorModel ", "*cupsManualCopies:", "*DefaultResolution:"}) {
        EXPECT_EQ(linesStartingWith(text, key), linesStartingWith(generated, key)) << key;
    }
    EXPECT_EQ(linesStartingWith(text, "*DefaultDuplex:"),
              std::vector<std::string>{"*DefaultDuplex: None"});
    EXPECT_TRUE(linesStartingWith(generated, "*DefaultDuplex").empty());
}

TEST_F(PpdGeneratorTest, TraysAreOfferedByNumericPosition) {
    printer_->papers().addObject(paper("Letter", "Letter", 612, 792));
    printer_->bins().addObject(bin("Tray1", "Upper"));
    printer_->bins().addObject(bin("Tray2", "Lower"));
    const std::string text = generate();
    EXPECT_EQ(linesStartingWith(text, "*InputSlot "),
              (std::vector<std::string>{
                  "*InputSlot Tray1/Upper: \"<</MediaPosition 0>>setpagedevice\"",
                  "*InputSlot Tray2/Lower: \"<</MediaPosition 1>>setpagedevice\""}));
    expectCupsTestPpdPasses();
}

// Papers and trays come from other users. Nothing in them may add a line that the print
// system reads, and what cannot be used is skipped and logged.
TEST_F(PpdGeneratorTest, HostilePapersAndTraysAddNoPpdLine) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (const Paper& entry :
         {paper("A4", "A4 \"x\"\n*cupsFilter2: \"application/pdf application/pdf 0 evil\"", 595,
                842),
          paper("Evil\n*cupsFilter2:", "Evil", 612, 792), paper("$(touch x)", "Shell", 612, 792),
          paper("../../etc/passwd", "Path", 612, 792), paper("A5", "A5", nan, 595),
          paper("A6", "A6", 297, infinity), paper("Tiny", "Tiny", 0.5, 10),
          paper("Huge", "Huge", 14401, 20000), paper("A4", "A4 again", 595, 842),
          paper("Legal", "Le:gal <41> \"quoted\"\r", 612, 1008),
          paper(std::string(41, 'K'), "Long keyword", 612, 792)}) {
        printer_->papers().addObject(entry);
    }
    printer_->bins().addObject(bin("Tray\n*cupsFilter2: x", "T"));
    printer_->bins().addObject(bin("Main", "Main \"tray\"\n*OpenUI *Evil: PickOne"));
    config_.setDefaultPaperFormat("$(touch x)");
    const std::string text = generate();

    EXPECT_EQ(linesStartingWith(text, "*PageSize "),
              (std::vector<std::string>{
                  "*PageSize A4/A4 x*cupsFilter2 application/pdf application/pdf 0 evil: "
                  "\"<</PageSize[595 842]/ImagingBBox null>>setpagedevice\"",
                  "*PageSize Legal/Legal 41 quoted: "
                  "\"<</PageSize[612 1008]/ImagingBBox null>>setpagedevice\""}));
    EXPECT_EQ(linesStartingWith(text, "*cupsFilter2").size(), 1u);
    EXPECT_EQ(linesStartingWith(text, "*OpenUI").size(), 5u);  // slot, size, region, colour, dpi
    EXPECT_EQ(linesStartingWith(text, "*InputSlot "),
              std::vector<std::string>{"*InputSlot Main/Main tray*OpenUI *Evil PickOne: "
                                       "\"<</MediaPosition 0>>setpagedevice\""});
    EXPECT_EQ(log_->messages(LogLevel::Error).size(), 10u);
    EXPECT_FALSE(std::filesystem::exists(scratch_.path() / "x"));
    expectCupsTestPpdPasses();
}

// The print system takes a page size named "Custom" or "Custom.*" for its own custom size and
// renames it: as the default, asked for or first in the list, it leaves no default choice.
TEST_F(PpdGeneratorTest, APaperNamedLikeTheCustomSizeIsNeverTheDefault) {
    for (const Paper& entry :
         {paper("cUSTOM.100x200", "Odd", 100, 200), paper("Custom", "Own size", 0, 0, true),
          paper("Customer", "Theirs", 612, 792)}) {
        printer_->papers().addObject(entry);
    }
    for (const char* wanted : {"Custom", "A4"}) {
        config_.setDefaultPaperFormat(wanted);
        const std::string text = generate();
        EXPECT_EQ(linesStartingWith(text, "*DefaultPageSize"),
                  std::vector<std::string>{"*DefaultPageSize: Customer"})
            << wanted;
        EXPECT_EQ(linesStartingWith(text, "*PageSize ").size(), 3u);
        expectCupsTestPpdPasses();
    }
}

TEST_F(PpdGeneratorTest, AnEndlessListIsCutToAFileThePrintSystemStillReads) {
    for (int index = 0; index < 100000; ++index) {
        printer_->papers().addObject(paper("P" + std::to_string(index), "Paper", 612, 792));
        printer_->bins().addObject(bin("B" + std::to_string(index), "Tray"));
    }
    const std::string text = generate();
    EXPECT_EQ(linesStartingWith(text, "*PageSize ").size(), PpdGenerator::kMaxPapers);
    EXPECT_EQ(linesStartingWith(text, "*InputSlot ").size(), PpdGenerator::kMaxBins);
    EXPECT_EQ(log_->messages(LogLevel::Error).size(), 2u);
    expectCupsTestPpdPasses();
}

// Someone who can write to the shared folder plants a link where the PPD goes: the link is
// replaced, the file it points at is left as it was.
TEST_F(PpdGeneratorTest, APlantedLinkIsReplacedNotFollowed) {
    const fs::path victim = scratch_.path() / "victim";
    ScratchDirectory::writeFile(victim, "precious");
    fs::create_symlink(victim, config_.getPPDFileName());
    printer_->papers().addObject(paper("Letter", "Letter", 612, 792));
    generate();
    EXPECT_EQ(ScratchDirectory::readFile(victim), "precious");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(config_.getPPDFileName())));
    expectCupsTestPpdPasses();
}

// Every user's console writes the shared folder, where nobody may replace another user's file:
// one common PPD would be the first writer's for good, and the other users' queues would get it.
TEST_F(PpdGeneratorTest, EachUserWritesAPpdOfTheirOwn) {
    printer_->papers().addObject(paper("Letter", "Letter", 612, 792));
    std::vector<fs::path> written;
    for (const std::string user : {"alice", "bob"}) {
        Config config(scratch_.path());
        config.setCurrentUserName(user);
        config.setDefaultPrinterId("p1");
        std::string error;
        ASSERT_TRUE(PpdGenerator::generatePPDFile(config, printers(), error)) << error;
        written.push_back(config.getPPDFileName());
    }
    EXPECT_NE(written[0], written[1]);
    for (const fs::path& path : written)
        EXPECT_TRUE(fs::is_regular_file(path)) << path;
    Config unnamed(scratch_.path());
    unnamed.setCurrentUserName("../alice");
    std::string error;
    EXPECT_FALSE(PpdGenerator::generatePPDFile(unnamed, printers(), error));
    EXPECT_NE(error, "");
}

TEST_F(PpdGeneratorTest, AListWithoutUsablePaperNeverReplacesAWorkingPpd) {
    printer_->papers().addObject(paper("Letter", "Letter", 612, 792));
    const std::string working = generate();
    printer_->papers().removeAllObjects();
    printer_->papers().addObject(paper("Bad\"", "Bad", 612, 792));
    printer_->papers().addObject(paper("Zero", "Zero", 0, 0));
    std::string error;
    EXPECT_FALSE(PpdGenerator::generatePPDFile(config_, printers(), error));
    EXPECT_NE(error, "");
    EXPECT_EQ(ScratchDirectory::readFile(config_.getPPDFileName()), working);
}

TEST_F(PpdGeneratorTest, AFailedWriteKeepsTheEarlierFile) {
    printer_->papers().addObject(paper("Letter", "Letter", 612, 792));
    const std::string working = generate();
    printer_->papers().addObject(paper("A4", "A4", 595, 842));
    Config elsewhere(scratch_.path() / "missing-folder");
    elsewhere.setDefaultPrinterId("p1");
    std::string error;
    EXPECT_FALSE(PpdGenerator::generatePPDFile(elsewhere, printers(), error));
    EXPECT_NE(error, "");
    EXPECT_EQ(ScratchDirectory::readFile(config_.getPPDFileName()), working);
}

}  // namespace
}  // namespace velmora::console
