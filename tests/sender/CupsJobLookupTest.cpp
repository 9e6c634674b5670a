#include <gtest/gtest.h>

#include "tests/sender/ServiceFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateCupsd.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

// Without "DestinationPrinterID" the sender finds the printer through the print system's
// active job whose id is the spool directory's name, here on a private scheduler.
class CupsJobLookupTest : public ServiceFixture {
  protected:
    static void SetUpTestSuite() {
        ServiceFixture::SetUpTestSuite();
        cupsd_ = std::make_unique<PrivateCupsd>();
        if (!cupsd_->running())
            return;
        for (const std::string& queue :
             {std::string("Velmora_") + kPrinterId, std::string("Plain_Laser")}) {
            const auto added =
                cupsd_->command({"lpadmin", "-p", queue, "-v", "file:///dev/null", "-E"});
            if (added.exitStatus != 0)
                setupFailure_ = "lpadmin failed: " + added.standardError;
        }
    }
    static void TearDownTestSuite() {
        cupsd_.reset();
        ServiceFixture::TearDownTestSuite();
    }
    void SetUp() override {
        if (!cupsd_->running())
            GTEST_SKIP() << "No private CUPS scheduler for this test: " << cupsd_->failure();
        ASSERT_EQ(setupFailure_, "");
        ServiceFixture::SetUp();
        cupsd_->command({"cancel", "-a"});
    }

    // Queues a held job (it stays active) and returns its id.
    int holdJob(const std::string& queue) const {
        const fs::path document = scratch_ / "document.txt";
        ScratchDirectory::writeFile(document, "held\n");
        const auto queued =
            cupsd_->command({"lp", "-d", queue, "-H", "hold", "-t", "My title", document.string()});
        // "request id is QUEUE-N (1 file(s))"
        const std::string& out = queued.standardOutput;
        const size_t dash = out.find(queue + "-");
        if (queued.exitStatus != 0 || dash == std::string::npos)
            return -1;
        return std::atoi(out.c_str() + dash + queue.size() + 1);
    }

    // Runs the sender program on the job in spool/<jobId>.
    std::string send(int jobId, std::vector<std::string> extra = {}) const {
        const fs::path spool = scratch_ / "spool" / std::to_string(jobId);
        fs::create_directories(spool);
        ScratchDirectory::writeFile(spool / "0001.bmp", "page");
        std::vector<std::string> arguments = {VELMORA_SENDER_TESTABLE_PATH,
                                              "--system-dir=" + systemDir().string(),
                                              "SpoolDir=" + spool.string(),
                                              "User=alice",
                                              "com.apple.print.JobInfo.PMJobName=Report",
                                              "com.apple.print.PrintSettings.PMCopies..n.=3"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const auto result = ChildProcess::run(arguments, scratch_.path(), cupsd_->environment());
        EXPECT_EQ(result.exitStatus, 0);
        return message();
    }

    static inline std::unique_ptr<PrivateCupsd> cupsd_;
    static inline std::string setupFailure_;
};

TEST_F(CupsJobLookupTest, ThePrinterOfTheActiveJobIsUsedAndKeepsTheCopies) {
    holdJob("Plain_Laser");
    const int jobId = holdJob(std::string("Velmora_") + kPrinterId);
    ASSERT_GT(jobId, 0);
    EXPECT_EQ(send(jobId), successMessage());
    const auto job = onlyJob();
    EXPECT_EQ(job.get<std::string>("printer"), kPrinterId);
    EXPECT_EQ(job.get_child("fields").get<std::string>("copies"), "3");
}

TEST_F(CupsJobLookupTest, AnUnknownQueueNameFallsBackToTheActiveJobs) {
    const int jobId = holdJob(std::string("Velmora_") + kPrinterId);
    ASSERT_GT(jobId, 0);
    EXPECT_EQ(send(jobId, {"DestinationPrinterID=Velmora_not-a-favourite"}), successMessage());
}

TEST_F(CupsJobLookupTest, NoMatchingJobOnAVelmoraQueueMeansNoPrinter) {
    // Only a job on another kind of queue, and none with the spool directory's id.
    const int plainJob = holdJob("Plain_Laser");
    ASSERT_GT(plainJob, 0);
    EXPECT_EQ(send(plainJob), Sender::kNoPrinterMessage);
    EXPECT_EQ(send(plainJob + 1000), Sender::kNoPrinterMessage);
    EXPECT_TRUE(RefServiceProcess::jobs(service_->state()).empty());
}

TEST_F(CupsJobLookupTest, AJobThatIsNoLongerActiveNamesNoPrinter) {
    const int jobId = holdJob(std::string("Velmora_") + kPrinterId);
    ASSERT_GT(jobId, 0);
    ASSERT_EQ(cupsd_->command({"cancel", "-a"}).exitStatus, 0);
    EXPECT_EQ(send(jobId), Sender::kNoPrinterMessage);
}

}  // namespace
}  // namespace velmora::test
