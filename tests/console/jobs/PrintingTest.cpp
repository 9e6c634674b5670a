#include <gtest/gtest.h>

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>

#include <zlib.h>

#include <cmath>
#include <filesystem>

#include "console/jobs/Job.h"
#include "console/jobs/PrintView.h"
#include "console/jobs/QtJobPrinter.h"
#include "platform/PlainRunLoop.h"
#include "tests/console/jobs/PageFixtures.h"
#include "tests/console/jobs/PrintSystem.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

// A PNG that declares `width` x `height` pixels and holds none.
std::string pngHeaderOnly(uint32_t width, uint32_t height) {
    const auto bigEndian = [](uint32_t value) {
        return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        const uLong crc =
            crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
        return bigEndian(static_cast<uint32_t>(data.size())) + body +
               bigEndian(static_cast<uint32_t>(crc));
    };
    const std::string header =
        bigEndian(width) + bigEndian(height) + std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IEND", "");
}

using test::PrintSystem;
constexpr double kA4Width = 595;
constexpr double kA4Height = 842;

// Real printing: a job's page files through Qt Print Support onto a private scheduler's queue
// whose device is a PDF file, read back with poppler.
class PrintingTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (PrintSystem::instance()->running())
            output_ = PrintSystem::instance()->addFileQueue("Fixture_File");
    }

    void SetUp() override {
        if (!PrintSystem::instance()->running())
            GTEST_SKIP() << "No private CUPS scheduler: " << PrintSystem::instance()->failure();
        std::filesystem::remove(output_);
        job_ = Job(Job::Origin::kService, scratch_.path());
        job_.setServerId(41);
        job_.setFormat("A4");
        job_.setCopies(1);
        job_.setTitle("Quarterly \"report\" <draft>");
    }

    // Adds a page file of the given size and format ("BMP", "PNG", "JPG").
    void addImagePage(int width, int height, const char* format = "PNG") {
        const int number = static_cast<int>(job_.pages().size()) + 1;
        job_.pages().emplace_back(number, "");
        std::filesystem::create_directories(job_.getJobDir());
        test::writeBlackImage(job_.getFileNameForPage(number - 1, false), width, height, format);
    }

    bool print(std::string& reason) {
        return printer_.printJob(job_, "Fixture_File", reason) &&
               PrintSystem::instance()->waitUntilIdle();
    }

    static inline std::filesystem::path output_;
    test::ScratchDirectory scratch_{"velmora-printing"};
    PlainRunLoop mainLoop_;
    QtJobPrinter printer_{mainLoop_};
    Job job_;
};

TEST_F(PrintingTest, EveryPageReachesTheSheetAndLandscapeTurnsTheLayout) {
    // The queue's sheets are A4 portrait whatever the job: a landscape job's pages are laid out
    // on the swapped paper and reach the sheet turned, so a wide image fills the sheet's height.
    struct Case {
        int64_t orientation;
        QSizeF layoutPaper;
        bool turned;
    };
    for (const Case& c : {Case{JobData::kPortrait, {kA4Width, kA4Height}, false},
                          Case{JobData::kLandscape, {kA4Height, kA4Width}, true}}) {
        SCOPED_TRACE(c.orientation);
        SetUp();
        job_.setOrientation(c.orientation);
        addImagePage(300, 200, "BMP");
        addImagePage(200, 300, "PNG");
        addImagePage(250, 250, "JPG");
        std::string reason;
        ASSERT_TRUE(print(reason)) << reason;
        const auto pages = PrintSystem::pdfPages(output_);
        ASSERT_EQ(pages.size(), 3u);
        for (const auto& page : pages) {
            EXPECT_NEAR(page.width, kA4Width, 1);
            EXPECT_NEAR(page.height, kA4Height, 1);
        }
        constexpr int kDpi = 36;
        const double pixelsPerPoint = kDpi / 72.0;
        const QSizeF fitted =
            PrintView::fitRect({300, 200}, QRectF(QPointF(0, 0), c.layoutPaper)).size();
        const QSizeF onSheet = c.turned ? fitted.transposed() : fitted;
        const QRect box = PrintSystem::darkBox(PrintSystem::renderPage(output_, 1, kDpi));
        EXPECT_NEAR(box.width(), onSheet.width() * pixelsPerPoint, 2);
        EXPECT_NEAR(box.height(), onSheet.height() * pixelsPerPoint, 2);
    }
}

TEST_F(PrintingTest, EachImageSitsWhereTheFitPutsIt) {
    // A wide image on a portrait page: full width, centred vertically; a tall one: full
    // height, centred horizontally; one of the page's own ratio fills it.
    const std::vector<QSize> images = {{400, 200}, {100, 400}, {595, 842}};
    for (const QSize& size : images)
        addImagePage(size.width(), size.height());
    std::string reason;
    ASSERT_TRUE(print(reason)) << reason;
    constexpr int kDpi = 36;
    const double pixelsPerPoint = kDpi / 72.0;
    for (size_t i = 0; i < images.size(); ++i) {
        SCOPED_TRACE(i);
        const QImage rendered = PrintSystem::renderPage(output_, static_cast<int>(i) + 1, kDpi);
        ASSERT_FALSE(rendered.isNull());
        const QRectF expected =
            PrintView::fitRect(QSizeF(images[i]), QRectF(0, 0, kA4Width, kA4Height));
        const QRect box = PrintSystem::darkBox(rendered);
        EXPECT_NEAR(box.left(), expected.left() * pixelsPerPoint, 2);
        EXPECT_NEAR(box.top(), expected.top() * pixelsPerPoint, 2);
        EXPECT_NEAR(box.right() + 1, expected.right() * pixelsPerPoint, 2);
        EXPECT_NEAR(box.bottom() + 1, expected.bottom() * pixelsPerPoint, 2);
    }
}

TEST_F(PrintingTest, TheFinishedJobCarriesCopiesSidesMediaAndTitle) {
    struct Case {
        int duplex;
        int copies;
        bool collate;
        const char* format;
        const char* sides;
    };
    for (const Case& c :
         {Case{0, 2, true, "A4", "one-sided"}, Case{1, 1, false, "Letter", "two-sided-short-edge"},
          Case{2, 3, false, "A4", "two-sided-long-edge"}}) {
        SCOPED_TRACE(c.sides);
        SetUp();
        job_.setDuplex(c.duplex);
        job_.setCopies(c.copies);
        job_.setCollate(c.collate);
        job_.setFormat(c.format);
        addImagePage(100, 100);
        addImagePage(100, 100);
        const auto previous = PrintSystem::instance()->lastJobAttributes("Fixture_File");
        const int previousId = previous.count("job-id") ? std::stoi(previous.at("job-id")) : 0;
        std::string reason;
        ASSERT_TRUE(print(reason)) << reason;
        auto attributes = PrintSystem::instance()->nextJobAttributes("Fixture_File", previousId);
        // The scheduler leaves out a single copy.
        EXPECT_EQ(attributes.count("copies") ? attributes["copies"] : "1",
                  std::to_string(c.copies));
        EXPECT_EQ(attributes["sides"], c.sides);
        EXPECT_EQ(attributes["media"], c.format);
        EXPECT_EQ(attributes["Collate"] == "true", c.collate) << attributes["Collate"];
        EXPECT_EQ(attributes["job-name"], job_.title());
    }
}

TEST_F(PrintingTest, DuplexOutsideTheTableLeavesTheSettingAsItWas) {
    QPrinter printer;
    printer.setDuplex(QPrinter::DuplexLongSide);
    job_.setDuplex(3);
    QtJobPrinter::applyJobSettings(job_, printer, Logger("test", "print"));
    EXPECT_EQ(printer.duplex(), QPrinter::DuplexLongSide);
    job_.setDuplex(0);
    QtJobPrinter::applyJobSettings(job_, printer, Logger("test", "print"));
    EXPECT_EQ(printer.duplex(), QPrinter::DuplexNone);
}

TEST_F(PrintingTest, APdfPageIsRenderedLikeAnImage) {
    job_.pages().emplace_back(1, "");
    std::filesystem::create_directories(job_.getJobDir());
    {
        QPdfWriter writer(QString::fromStdString(job_.getFileNameForPage(0, false)));
        writer.setPageSize(QPageSize(QPageSize::A5));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        painter.fillRect(QRect(0, 0, writer.width(), writer.height()), Qt::black);
    }
    std::string reason;
    ASSERT_TRUE(print(reason)) << reason;
    ASSERT_EQ(PrintSystem::pdfPages(output_).size(), 1u);
    const QRect box = PrintSystem::darkBox(PrintSystem::renderPage(output_, 1, 36));
    // A5 has A4's ratio: the page fills the sheet.
    EXPECT_NEAR(box.width(), kA4Width / 2, 3);
    EXPECT_NEAR(box.height(), kA4Height / 2, 3);
}

TEST_F(PrintingTest, APdfPageOfAnotherShapeKeepsItsAspectRatio) {
    // A landscape A4 page box on portrait A4 paper: full width, centred vertically, not
    // stretched over the whole sheet.
    job_.pages().emplace_back(1, "");
    std::filesystem::create_directories(job_.getJobDir());
    {
        QPdfWriter writer(QString::fromStdString(job_.getFileNameForPage(0, false)));
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0)));
        QPainter painter(&writer);
        painter.fillRect(QRect(0, 0, writer.width(), writer.height()), Qt::black);
    }
    std::string reason;
    ASSERT_TRUE(print(reason)) << reason;
    constexpr int kDpi = 36;
    const double pixelsPerPoint = kDpi / 72.0;
    const QRectF expected =
        PrintView::fitRect({kA4Height, kA4Width}, QRectF(0, 0, kA4Width, kA4Height));
    const QRect box = PrintSystem::darkBox(PrintSystem::renderPage(output_, 1, kDpi));
    EXPECT_NEAR(box.top(), expected.top() * pixelsPerPoint, 2);
    EXPECT_NEAR(box.height(), expected.height() * pixelsPerPoint, 2);
    EXPECT_NEAR(box.width(), expected.width() * pixelsPerPoint, 2);
}

TEST_F(PrintingTest, APageWhoseHeaderIsSoundButWhoseBodyIsNotPrintsNothing) {
    // The check before printing reads only headers; a later page that fails to decode must
    // not let the pages drawn before it reach the queue as a partial job.
    const int before = PrintSystem::instance()->jobCount();
    addImagePage(100, 100);
    addImagePage(200, 200);
    const std::string second = job_.getFileNameForPage(1, false);
    std::filesystem::resize_file(second, std::filesystem::file_size(second) / 2);
    std::string reason;
    EXPECT_FALSE(printer_.printJob(job_, "Fixture_File", reason));
    ASSERT_TRUE(PrintSystem::instance()->waitUntilIdle());
    EXPECT_EQ(PrintSystem::instance()->jobCount(), before);
}

TEST_F(PrintingTest, AnUnreadableOrEmptyPageStopsTheJobBeforeAnythingIsPrinted) {
    const int before = PrintSystem::instance()->jobCount();
    struct Case {
        const char* name;
        std::string bytes;
    };
    for (const Case& c :
         {Case{"garbage", "not an image at all"}, Case{"empty", ""},
          Case{"pdf header only", "%PDF-1.4\n"},
          Case{"declares 60000 x 60000 pixels", pngHeaderOnly(60000, 60000)},
          // A BMP header claiming a height of 0.
          Case{"zero height", std::string("BM\x3e\0\0\0\0\0\0\0\x3e\0\0\0\x28\0\0\0"
                                          "\x01\0\0\0\0\0\0\0\x01\0\x18\0\0\0\0\0"
                                          "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0",
                                          62)}}) {
        SCOPED_TRACE(c.name);
        SetUp();
        addImagePage(100, 100);
        job_.pages().emplace_back(2, "");
        test::ScratchDirectory::writeFile(job_.getFileNameForPage(1, false), c.bytes);
        std::string reason;
        EXPECT_FALSE(printer_.printJob(job_, "Fixture_File", reason));
        EXPECT_NE(reason.find("page 2"), std::string::npos) << reason;
    }
    ASSERT_TRUE(PrintSystem::instance()->waitUntilIdle());
    EXPECT_EQ(PrintSystem::instance()->jobCount(), before);
}

TEST_F(PrintingTest, AJobTheSchedulerRefusesIsNeverReportedPrinted) {
    // Settings from a hostile sender that the scheduler turns down: each job either reaches
    // the queue or is reported as not printed, never printed into nothing.
    struct Case {
        const char* name;
        std::string title;
        int copies;
    };
    for (const Case& c : {Case{"line break in the title", "Invoice\nX-Injected: 1", 1},
                          Case{"title of 1000 characters", std::string(1000, 't'), 1},
                          Case{"a million copies", "Copies", 1000000}}) {
        SCOPED_TRACE(c.name);
        SetUp();
        job_.setTitle(c.title);
        job_.setCopies(c.copies);
        addImagePage(60, 80);
        const int before = PrintSystem::instance()->jobCount();
        std::string reason;
        const bool printed = printer_.printJob(job_, "Fixture_File", reason);
        ASSERT_TRUE(PrintSystem::instance()->waitUntilIdle());
        EXPECT_EQ(PrintSystem::instance()->jobCount(), before + (printed ? 1 : 0)) << reason;
    }
}

TEST_F(PrintingTest, AMissingQueueIsReportedAsMissing) {
    EXPECT_TRUE(printer_.printerExists("Fixture_File"));
    EXPECT_FALSE(printer_.printerExists("No_Such_Queue"));
}

TEST(PrintViewTest, PagesAreOnePointApartAndOutsideNumbersAreEmpty) {
    Job job;
    for (int number : {3, 5, 9})
        job.pages().emplace_back(number, "");
    const PrintView view(job, QSizeF(kA4Width, kA4Height));
    int first = 0;
    int last = 0;
    EXPECT_TRUE(view.knowsPageRange(first, last));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 3);
    EXPECT_EQ(view.rectForPage(3), QRectF(0, 2, kA4Width, kA4Height));
    EXPECT_EQ(view.rectForPage(0), QRectF());
    EXPECT_EQ(view.rectForPage(4), QRectF());
}

TEST(PrintViewTest, FitKeepsTheAspectRatioFillsOneDirectionAndCentresTheOther) {
    const QRectF page(10, 20, 600, 800);
    struct Case {
        QSizeF image;
        QRectF expected;
    };
    for (const Case& c : {
             Case{{300, 400}, {10, 20, 600, 800}},    // the page's own ratio fills it
             Case{{1200, 600}, {10, 270, 600, 300}},  // landscape: full width, centred
             Case{{100, 800}, {260, 20, 100, 800}},   // tall: full height, centred
             Case{{3, 4000}, {10 + (600 - 0.6) / 2, 20, 0.6, 800}},
         }) {
        const QRectF fitted = PrintView::fitRect(c.image, page);
        EXPECT_NEAR(fitted.x(), c.expected.x(), 1e-9);
        EXPECT_NEAR(fitted.y(), c.expected.y(), 1e-9);
        EXPECT_NEAR(fitted.width(), c.expected.width(), 1e-9);
        EXPECT_NEAR(fitted.height(), c.expected.height(), 1e-9);
    }
    // An image without height (or width) has no ratio to keep: nothing is drawn.
    EXPECT_TRUE(PrintView::fitRect({100, 0}, page).isEmpty());
    EXPECT_TRUE(PrintView::fitRect({0, 100}, page).isEmpty());
}

}  // namespace
}  // namespace velmora::console
