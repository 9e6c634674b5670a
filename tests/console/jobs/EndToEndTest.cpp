#include <gtest/gtest.h>

#include <QImage>
#include <pugixml.hpp>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "console/jobs/JobArray.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/jobs/PrintView.h"
#include "console/jobs/Processor.h"
#include "console/jobs/QtJobPrinter.h"
#include "core/account/Permission.h"
#include "core/account/PermissionArray.h"
#include "core/config/Config.h"
#include "core/net/InetProvider.h"
#include "platform/PlainRunLoop.h"
#include "tests/console/jobs/PrintSystem.h"
#include "tests/sender/ServiceFixture.h"
#include "tests/support/ChildProcess.h"
#include "tools/rastergen/RasterStreamWriter.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using console::Job;

constexpr const char* kQueue = "EndToEnd_File";
constexpr int kPages = 3;
constexpr unsigned kPageWidth = 300;
constexpr unsigned kPageHeight = 400;

// The colour of a page's pixel: a smooth ramp per page, so that scaling keeps it recognisable.
QRgb rampColour(int page, double x, double y) {
    return qRgb(static_cast<int>(x * 255 / kPageWidth), static_cast<int>(y * 255 / kPageHeight),
                page * 80);
}

// A print job from one account to another, with every process of both sides real but the
// receiving console's window: raster, converter and sender program as alice, the reference
// service, then bob's job processor printing on a private scheduler's file queue.
class EndToEndReceivingTest : public ServiceFixture, public ::testing::WithParamInterface<int> {
  protected:
    static void SetUpTestSuite() {
        ServiceFixture::SetUpTestSuite();
        if (PrintSystem::instance()->running())
            output_ = PrintSystem::instance()->addFileQueue(kQueue);
    }

    void SetUp() override {
        if (!PrintSystem::instance()->running())
            GTEST_SKIP() << "No private CUPS scheduler: " << PrintSystem::instance()->failure();
        ServiceFixture::SetUp();
        fs::remove(output_);
    }

    void sendAsAlice(int mode) {
        setup_.encryption = mode;
        setup_.encryptionPassword = "s3cret";
        writeSetup(setup_);
        const fs::path raster = scratch_ / "job.raster";
        {
            RasterStreamWriter writer(raster.string(), CUPS_RASTER_WRITE_COMPRESSED);
            for (int page = 1; page <= kPages; ++page) {
                writer.page(RasterStreamWriter::header(kPageWidth, kPageHeight),
                            [page](unsigned y) {
                                std::vector<uint8_t> line;
                                for (unsigned x = 0; x < kPageWidth; ++x) {
                                    const QRgb colour = rampColour(page, x, y);
                                    line.insert(line.end(), {static_cast<uint8_t>(qRed(colour)),
                                                             static_cast<uint8_t>(qGreen(colour)),
                                                             static_cast<uint8_t>(qBlue(colour))});
                                }
                                return line;
                            });
            }
        }
        const fs::path converted = scratch_ / "converted";
        const auto convert = ChildProcess::run(
            {KESTRO_VL_CONVERT_PATH, raster.string(), converted.string()}, scratch_.path());
        ASSERT_EQ(convert.exitStatus, 0) << convert.standardError;
        for (const auto& entry : fs::directory_iterator(converted))
            fs::copy_file(entry.path(), spoolDir() / entry.path().filename());
        const auto sent =
            ChildProcess::run({VELMORA_SENDER_TESTABLE_PATH, "--system-dir=" + systemDir().string(),
                               "SpoolDir=" + spoolDir().string(), "User=alice",
                               std::string("DestinationPrinterID=Velmora_") + kPrinterId,
                               "com.apple.print.JobInfo.PMJobName=Report", "media=Letter"},
                              scratch_.path());
        ASSERT_EQ(sent.exitStatus, 0);
        ASSERT_EQ(message(), successMessage());
    }

    static void expectPrintedPagesMatchTheRamps() {
        ASSERT_TRUE(PrintSystem::instance()->waitUntilIdle());
        const auto pages = PrintSystem::pdfPages(output_);
        ASSERT_EQ(pages.size(), static_cast<size_t>(kPages));
        constexpr int kDpi = 72;
        for (int page = 1; page <= kPages; ++page) {
            SCOPED_TRACE(page);
            EXPECT_NEAR(pages[page - 1].width, 612, 1);
            EXPECT_NEAR(pages[page - 1].height, 792, 1);
            const QImage printed = PrintSystem::renderPage(output_, page, kDpi);
            ASSERT_FALSE(printed.isNull());
            const QRectF fit =
                console::PrintView::fitRect({kPageWidth, kPageHeight}, QRectF(0, 0, 612, 792));
            // Sample the inside of the fitted image, away from its edges.
            for (double u = 0.1; u < 0.95; u += 0.2) {
                for (double v = 0.1; v < 0.95; v += 0.2) {
                    const QRgb sent = rampColour(page, u * kPageWidth, v * kPageHeight);
                    const QRgb got = printed.pixel(static_cast<int>(fit.x() + u * fit.width()),
                                                   static_cast<int>(fit.y() + v * fit.height()));
                    EXPECT_NEAR(qRed(got), qRed(sent), 12) << u << "," << v;
                    EXPECT_NEAR(qGreen(got), qGreen(sent), 12) << u << "," << v;
                    EXPECT_NEAR(qBlue(got), qBlue(sent), 12) << u << "," << v;
                }
            }
        }
    }

    static inline fs::path output_;
};

TEST_P(EndToEndReceivingTest, AJobSentByOneAccountIsPrintedByAnother) {
    const int mode = GetParam();
    ASSERT_NO_FATAL_FAILURE(sendAsAlice(mode));
    const int jobId = onlyJob().get<int>("id");

    // Bob's console: his session, his printer, his rule that alice may print.
    ScratchDirectory profile("velmora-bob");
    Config config("/nonexistent");
    config.setService(service_->serviceUrl());
    config.setToken("tok-bob");
    Person bob;
    InetProvider inet(config, bob);
    PermissionArray permissions;
    permissions.addObject(Permission(std::nullopt, Permission::kAllow));
    console::LocalPrinterArray printers(PrintSystem::instance()->cupsd().socketPath());
    ASSERT_TRUE(printers.loadFromSystem());
    ASSERT_TRUE(printers.updatePrinter(
        kQueue, [](console::LocalPrinter& printer) { printer.setPublicId(kPrinterId); }));
    PlainRunLoop loop;
    console::QtJobPrinter jobPrinter(loop);
    struct Forward : console::JobDispatcher {
        console::Processor* processor = nullptr;
        void dispatchJobs() override { processor->dispatchJobs(); }
    } forward;
    console::JobArray jobs(forward, {[&] { return profile.path(); }, [] {}});
    console::Processor processor({loop, jobs, permissions, printers, inet, jobPrinter});
    forward.processor = &processor;
    std::thread mainThread([&] { loop.run(); });

    const auto headers = inet.dictionaryWithTDTokenHeader();
    std::string error;
    const auto reply = inet.downloadData(service_->base() + "/fastCheck3.aspx?d=", &headers, error);
    ASSERT_TRUE(reply) << error;
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(reply->c_str()));
    loop.postAndWait([&] { jobs.parse(document.child("response").child("jobs"), true, true); });

    const auto stateOf = [&] {
        int32_t status = -1;
        loop.postAndWait([&] {
            if (const Job* job = jobs.getJob(jobId))
                status = job->status();
        });
        return status;
    };
    const auto waitFor = [&](int32_t wanted) {
        for (int i = 0; i < 3000 && stateOf() != wanted && stateOf() != Job::kError; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return stateOf() == wanted;
    };
    if (mode == 1) {
        // Only alice knows the password: the pages wait, encoded, until bob types it in.
        ASSERT_TRUE(waitFor(Job::kWaiting));
        std::string key;
        ASSERT_TRUE(inet.getKey(key, jobId, "s3cret", false, error)) << error;
        loop.postAndWait([&] {
            Job* job = jobs.getJob(jobId);
            job->setEncryptKey(key);
            job->setApproved(true);
            processor.dispatchJobs();
        });
    }
    const bool done = waitFor(Job::kDone);
    std::string finalError;
    loop.postAndWait([&] { finalError = jobs.getJob(jobId)->error(); });
    loop.stop();
    mainThread.join();
    ASSERT_TRUE(done) << finalError;

    EXPECT_FALSE(fs::exists(profile.path() / ("Job" + std::to_string(jobId))));
    int printedReports = 0;
    for (const auto& call : service_->requests("soap")) {
        if (call.get<std::string>("operation", "") == "UpdateJob" &&
            call.get<std::string>("param", "").find("new-status=\"3\"") != std::string::npos)
            printedReports++;
    }
    EXPECT_EQ(printedReports, 1);
    EXPECT_EQ(RefServiceProcess::jobs(service_->state()).front().get<std::string>("status"),
              "printed");
    EXPECT_EQ(service_->state().get<int>("malformed_count"), 0);
    expectPrintedPagesMatchTheRamps();
}

INSTANTIATE_TEST_SUITE_P(EncryptionModes, EndToEndReceivingTest, ::testing::Values(0, 1, 2));

}  // namespace
}  // namespace velmora::test
