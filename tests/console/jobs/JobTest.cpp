#include <gtest/gtest.h>

#include "console/jobs/Job.h"

#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace velmora::console {
namespace {

namespace fs = std::filesystem;

const fs::path kProfile = "/profile";

Job jobWithPages(Job::Origin origin, int id, std::initializer_list<int> numbers) {
    Job job(origin, kProfile);
    job.setServerId(id);
    for (int number : numbers)
        job.pages().emplace_back(number, "https://pages.example/" + std::to_string(number));
    return job;
}

TEST(JobTest, PageFilesAreNamedByPageNumberInTheJobsOwnFolder) {
    const Job service = jobWithPages(Job::Origin::kService, 12, {3, 7});
    const Job direct = jobWithPages(Job::Origin::kDirect, 12, {3, 7});
    EXPECT_EQ(service.getFileNameForPage(0, false), "/profile/Job12/3.emf");
    EXPECT_EQ(service.getFileNameForPage(1, false), "/profile/Job12/7.emf");
    // The same id names another folder for a direct job.
    EXPECT_EQ(direct.getFileNameForPage(1, false), "/profile/DirectJob12/7.emf");
    for (const int outside : {-1, 2}) {
        EXPECT_EQ(service.getFileNameForPage(outside, false), "") << outside;
        EXPECT_EQ(service.getFileNameForPage(outside, true), "") << outside;
    }
}

// The settings could not name a profile folder (an unsafe user or profile name): no page file
// may then land relative to the working folder.
TEST(JobTest, WithoutAProfileFolderNoPageHasAFile) {
    for (const Job::Origin origin : {Job::Origin::kService, Job::Origin::kDirect}) {
        Job job(origin, "");
        job.setServerId(3);
        job.pages().emplace_back(1, "");
        EXPECT_EQ(job.getJobDir(), fs::path());
        EXPECT_EQ(job.getFileNameForPage(0, false), "");
        EXPECT_EQ(job.receiveDirectPage(2), "");
    }
}

TEST(JobTest, TheEncodedNameCarriesEncOnlyWhilePackedOrEncrypted) {
    struct Case {
        bool packed;
        int encryption;
        std::string expected;
    };
    for (const Case& c :
         {Case{false, 0, "/profile/Job1/2.emf"}, Case{true, 0, "/profile/Job1/2.emf.enc"},
          Case{false, 2, "/profile/Job1/2.emf.enc"}, Case{true, 1, "/profile/Job1/2.emf.enc"}}) {
        Job job = jobWithPages(Job::Origin::kService, 1, {2});
        job.setPacked(c.packed);
        job.setEncryption(c.encryption);
        EXPECT_EQ(job.getFileNameForPage(0, true), c.expected) << c.packed << c.encryption;
        EXPECT_EQ(job.getFileNameForPage(0, false), "/profile/Job1/2.emf");
    }
}

TEST(JobTest, StatusNamesCoverEveryStateAndNothingElse) {
    Job job;
    const char* names[] = {"Waiting", "Downloading", "Ready",    "Printing",
                           "Done",    "Error",       "Rejected", "Uploading"};
    for (int status = 0; status < 8; ++status) {
        job.setStatus(status);
        EXPECT_EQ(job.getTextStatus(), names[status]);
    }
    for (const int outside : {-1, 8, 1000}) {
        job.setStatus(outside);
        EXPECT_EQ(job.getTextStatus(), "") << outside;
    }
}

TEST(JobTest, AWorkersCopyTakesStateAndPagesSharesTheSenderAndIsNeverNew) {
    Job listed = jobWithPages(Job::Origin::kDirect, 4, {1, 2});
    listed.setStatus(Job::kReady);
    listed.setError("Last try failed");
    listed.setApproved(true);
    listed.setShowDialog(true);
    listed.setEncryptKey("a2V5");
    listed.setIsNew(true);
    listed.setNotify(true);
    listed.setTitle("Report.pdf");
    listed.sender().setServerId(-1);

    Job copy = Job::initWithJob(listed);
    EXPECT_TRUE(copy.isPTP());
    EXPECT_EQ(copy.getJobDir(), listed.getJobDir());
    EXPECT_EQ(copy.status(), Job::kReady);
    EXPECT_EQ(copy.error(), "Last try failed");
    EXPECT_TRUE(copy.approved());
    EXPECT_TRUE(copy.showDialog());
    EXPECT_EQ(copy.encryptKey(), "a2V5");
    EXPECT_EQ(copy.title(), "Report.pdf");
    EXPECT_FALSE(copy.isNew());
    EXPECT_FALSE(copy.notify());
    EXPECT_EQ(copy.senderObject(), listed.senderObject());

    // The pages are the copy's own.
    copy.pages()[0].setUrl("changed");
    copy.pages().emplace_back(3, "");
    EXPECT_EQ(listed.pages().size(), 2u);
    EXPECT_EQ(listed.pages()[0].url(), "https://pages.example/1");
}

TEST(JobTest, ADirectPageIsListedOnceByNumberUpToTheLimit) {
    Job job(Job::Origin::kDirect, kProfile);
    job.setServerId(2);
    const std::string first = job.receiveDirectPage(5);
    EXPECT_EQ(first, "/profile/DirectJob2/5.emf");
    EXPECT_EQ(job.receiveDirectPage(5), first);
    EXPECT_EQ(job.pages().size(), 1u);
    EXPECT_EQ(job.pages()[0].url(), "");
    for (const int refused : {0, -3})
        EXPECT_EQ(job.receiveDirectPage(refused), "") << refused;

    for (int number = 6; job.pages().size() < static_cast<size_t>(Job::kMaxDirectPages); ++number)
        ASSERT_NE(job.receiveDirectPage(number), "");
    EXPECT_EQ(job.receiveDirectPage(Job::kMaxDirectPages + 100), "");
    EXPECT_EQ(job.pages().size(), static_cast<size_t>(Job::kMaxDirectPages));
    // Pages already listed still find their file.
    EXPECT_EQ(job.receiveDirectPage(5), first);
}

// Start times are shown in local time; the zone here is fixed and has no summer time.
class JobStartedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* zone = ::getenv("TZ"))
            savedZone_ = zone;
        ::setenv("TZ", "Asia/Tokyo", 1);
        ::tzset();
    }
    void TearDown() override {
        if (savedZone_)
            ::setenv("TZ", savedZone_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

    static std::string shown(const std::string& started) {
        Job job;
        job.setStarted(started);
        // 2026-12-07 10:00:00 UTC, 19:00 in Tokyo.
        return job.getTextStarted(std::chrono::system_clock::from_time_t(1796637600));
    }

    std::optional<std::string> savedZone_;
};

TEST_F(JobStartedTest, TodayShowsTheLocalTimeOtherDaysTheDate) {
    EXPECT_EQ(shown("261207033000"), "12:30");
    // Still the 6th in UTC, already the 7th in Tokyo.
    EXPECT_EQ(shown("261206160000"), "01:00");
    // The 6th in Tokyo too.
    EXPECT_EQ(shown("261206140000"), "12/06/26");
    EXPECT_EQ(shown("251207100000"), "12/07/25");
}

TEST_F(JobStartedTest, AStartTextOfAnyOtherLengthOrWithNonDigitsShowsNow) {
    for (const char* text : {"26120703300", "2612070330000", "", "26120703300x"})
        EXPECT_EQ(shown(text), "19:00") << text;
}

}  // namespace
}  // namespace velmora::console
