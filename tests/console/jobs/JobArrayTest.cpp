#include <gtest/gtest.h>

#include "console/jobs/JobArray.h"
#include "core/config/TextFile.h"
#include "core/xml/XmlHelpers.h"
#include "tests/support/ScratchDirectory.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace velmora::console {
namespace {

namespace fs = std::filesystem;

// Stands in for the job processor, which is not part of this library: counts the dispatches.
class CountingDispatcher : public JobDispatcher {
  public:
    void dispatchJobs() override { ++count; }
    int count = 0;
};

class RecordingDelegate : public JobArrayDelegate {
  public:
    void jobArray_Changed(int added) override { notices.push_back(added); }
    std::vector<int> notices;
};

std::string serviceJob(int id, const std::string& title = "Report",
                       const std::string& url = "https://service.example/page1") {
    return "<job id=\"" + std::to_string(id) + "\"><document>" + title +
           "</document><printer>p1</printer><printing-person id=\"17\"><login>bob</login>"
           "</printing-person><page page-number=\"1\"><url>" +
           url + "</url></page></job>";
}

class JobArrayTest : public ::testing::Test {
  protected:
    JobArrayTest() { jobs_.addDelegate(&delegate_); }

    pugi::xml_node element(const std::string& xml) {
        documents_.emplace_back(std::make_unique<pugi::xml_document>());
        EXPECT_TRUE(documents_.back()->load_string(xml.c_str())) << xml;
        return documents_.back()->first_child();
    }
    void merge(const std::string& children, bool incremental = true, bool notify = true) {
        jobs_.parse(element("<jobs>" + children + "</jobs>"), incremental, notify);
    }
    std::optional<int> startDirect(const std::string& children) {
        return jobs_.startReceivingPtpJob(element("<data>" + children + "</data>"));
    }
    int listedWithIsNew() const {
        int count = 0;
        for (size_t i = 0; i < jobs_.count(); ++i)
            count += jobs_.objectAtIndex(i).isNew() ? 1 : 0;
        return count;
    }

    test::ScratchDirectory profile_{"velmora-jobs"};
    CountingDispatcher dispatcher_;
    RecordingDelegate delegate_;
    int saves_ = 0;
    JobArray jobs_{dispatcher_, {[this] { return profile_.path(); }, [this] { ++saves_; }}};
    std::vector<std::unique_ptr<pugi::xml_document>> documents_;
};

TEST_F(JobArrayTest, MergingTheSameListTwiceAddsNothingTheSecondTime) {
    merge(serviceJob(5) + serviceJob(6));
    merge(serviceJob(5) + serviceJob(6));
    EXPECT_EQ(jobs_.count(), 2u);
    EXPECT_EQ(delegate_.notices, (std::vector<int>{2, 0}));
    EXPECT_EQ(jobs_.newJobs(), 2);
    EXPECT_EQ(dispatcher_.count, 2);
}

TEST_F(JobArrayTest, ElementsWithoutAUsableIdAreSkippedTheOthersMerged) {
    // Ids that are only partly numbers, or beyond 32 bits, must not become some other job's id.
    merge(serviceJob(0) + "<job><document>no id</document></job><job id=\"x1\"/>" +
          "<job id=\"9abc\"/><job id=\"4294967305\"/>" + serviceJob(9));
    ASSERT_EQ(jobs_.count(), 1u);
    EXPECT_EQ(jobs_.objectAtIndex(0).serverId(), 9);
    EXPECT_EQ(delegate_.notices, (std::vector<int>{1}));
}

TEST_F(JobArrayTest, ARefreshUpdatesTheDescriptionAndKeepsTheLocalState) {
    merge(serviceJob(5, "First"));
    Job& job = *jobs_.getJob(5);
    job.setStatus(Job::kReady);
    job.setApproved(true);
    job.setError("Earlier failure");
    job.setEncryptKey("a2V5");
    jobs_.clearNewForJob(job);

    merge(serviceJob(5, "Renamed", "https://service.example/moved"));
    EXPECT_EQ(job.title(), "Renamed");
    EXPECT_EQ(job.pages().at(0).url(), "https://service.example/moved");
    EXPECT_EQ(job.status(), Job::kReady);
    EXPECT_TRUE(job.approved());
    EXPECT_EQ(job.error(), "Earlier failure");
    EXPECT_EQ(job.encryptKey(), "a2V5");
    EXPECT_FALSE(job.isNew());
}

TEST_F(JobArrayTest, AFullMergeReplacesServiceJobsAndKeepsDirectJobs) {
    merge(serviceJob(1) + serviceJob(2));
    const std::optional<int> direct = startDirect("<job/>");
    ASSERT_TRUE(direct);
    delegate_.notices.clear();
    const int dispatches = dispatcher_.count;

    jobs_.parse(element("<jobs/>"), false, true);
    ASSERT_EQ(jobs_.count(), 1u);
    EXPECT_TRUE(jobs_.objectAtIndex(0).isPTP());
    EXPECT_EQ(jobs_.getJob(1), nullptr);
    EXPECT_EQ(jobs_.newJobs(), 1);
    EXPECT_EQ(delegate_.notices, (std::vector<int>{0, 0}));
    EXPECT_EQ(dispatcher_.count, dispatches + 1);

    // Without an element the removal still happens, but nothing is dispatched.
    merge(serviceJob(3));
    delegate_.notices.clear();
    jobs_.parse(pugi::xml_node(), false, true);
    EXPECT_EQ(jobs_.count(), 1u);
    EXPECT_EQ(delegate_.notices, (std::vector<int>{0}));
    EXPECT_EQ(dispatcher_.count, dispatches + 2);
}

TEST_F(JobArrayTest, TheUnseenCountFollowsTheJobsMarkedNew) {
    merge(serviceJob(1) + serviceJob(2) + serviceJob(3));
    EXPECT_EQ(jobs_.newJobs(), 3);
    jobs_.clearNewForJob(*jobs_.getJob(2));
    EXPECT_EQ(jobs_.newJobs(), 2);
    // A job already seen does not count down again.
    delegate_.notices.clear();
    jobs_.clearNewForJob(*jobs_.getJob(2));
    EXPECT_EQ(jobs_.newJobs(), 2);
    EXPECT_TRUE(delegate_.notices.empty());
    EXPECT_EQ(jobs_.newJobs(), listedWithIsNew());

    jobs_.parse(element("<jobs>" + serviceJob(3) + "</jobs>"), false, false);
    EXPECT_EQ(jobs_.newJobs(), 1);
    EXPECT_EQ(jobs_.newJobs(), listedWithIsNew());
    jobs_.removeAllObjects();
    EXPECT_EQ(jobs_.newJobs(), 0);
    EXPECT_EQ(jobs_.count(), 0u);
}

TEST_F(JobArrayTest, DirectJobsTakeTheSmallestFreeIdWhateverServiceJobsAreListed) {
    merge(serviceJob(1) + serviceJob(2));
    EXPECT_EQ(startDirect("<job/>"), 1);
    EXPECT_EQ(startDirect("<job/>"), 2);
    EXPECT_EQ(jobs_.count(), 4u);
    Job* direct = jobs_.getPtpJob(1);
    ASSERT_NE(direct, nullptr);
    EXPECT_NE(direct, jobs_.getJob(1));
    EXPECT_NE(direct->getJobDir(), jobs_.getJob(1)->getJobDir());
    EXPECT_EQ(direct->getJobDir(), profile_.path() / "DirectJob1");
    EXPECT_EQ(jobs_.getJob(1)->getJobDir(), profile_.path() / "Job1");
}

TEST_F(JobArrayTest, AServiceMergeNeverFindsOrChangesADirectJob) {
    ASSERT_EQ(startDirect("<job><document>Nearby</document></job>"), 1);
    merge(serviceJob(1, "From the service", "https://stranger.example/steal"));
    const Job* direct = jobs_.getPtpJob(1);
    EXPECT_EQ(direct->title(), "Nearby");
    EXPECT_EQ(direct->status(), Job::kUploading);
    EXPECT_TRUE(direct->pages().empty());
    ASSERT_NE(jobs_.getJob(1), nullptr);
    EXPECT_FALSE(jobs_.getJob(1)->isPTP());
    // A service job that claims the nearby client's sender id is still a service job.
    merge("<job id=\"8\"><printing-person id=\"-1\"/></job>");
    EXPECT_FALSE(jobs_.getJob(8)->isPTP());
    EXPECT_EQ(jobs_.getJob(8)->getJobDir(), profile_.path() / "Job8");
}

TEST_F(JobArrayTest, ANewDirectJobIsRewrittenAsTheNearbyClientsAndStartsUploading) {
    struct Case {
        std::string person;
        std::string login;
    };
    for (const Case& c :
         {Case{"", "Nearby client"},
          Case{"<printing-person id=\"17\"><nick>Al</nick></printing-person>", "Nearby client"},
          Case{"<printing-person><login>carol</login></printing-person>", "carol"}}) {
        const std::optional<int> id =
            startDirect("<job id=\"99\"><document>Doc</document>" + c.person + "</job>");
        ASSERT_TRUE(id);
        const Job* job = jobs_.getPtpJob(*id);
        ASSERT_NE(job, nullptr);
        EXPECT_EQ(job->serverId(), *id);
        EXPECT_EQ(jobs_.getPtpJob(99), nullptr);
        EXPECT_EQ(job->sender().serverId(), -1);
        EXPECT_EQ(job->sender().login(), c.login);
        EXPECT_EQ(job->status(), Job::kUploading);
        EXPECT_TRUE(job->isPTP());
        EXPECT_TRUE(job->isNew());
    }
    EXPECT_TRUE(delegate_.notices.empty());
}

TEST_F(JobArrayTest, OnlyTheFirstJobOfANewDirectJobIsTaken) {
    merge(serviceJob(4, "Service job", "https://service.example/real"));
    const std::optional<int> id =
        startDirect("<job><document>Mine</document></job>" +
                    serviceJob(4, "Hijacked", "https://stranger.example/fake") + "<job id=\"7\"/>");
    ASSERT_EQ(id, 1);
    EXPECT_EQ(jobs_.count(), 2u);
    EXPECT_EQ(jobs_.getJob(4)->title(), "Service job");
    EXPECT_EQ(jobs_.getJob(4)->pages().at(0).url(), "https://service.example/real");
    EXPECT_EQ(jobs_.getJob(7), nullptr);
    EXPECT_EQ(jobs_.getPtpJob(7), nullptr);

    // Without a job element nothing is created and the caller can refuse.
    EXPECT_EQ(startDirect(""), std::nullopt);
    EXPECT_EQ(startDirect("<jobs><job/></jobs>"), std::nullopt);
    EXPECT_EQ(jobs_.count(), 2u);
}

TEST_F(JobArrayTest, ADirectJobNeverKeepsPageAddressesFromTheClient) {
    const std::optional<int> id = startDirect(
        "<job><page page-number=\"1\"><url>https://stranger.example/a</url></page>"
        "<page page-number=\"2\"><url>https://stranger.example/b</url></page></job>");
    ASSERT_TRUE(id);
    const Job* job = jobs_.getPtpJob(*id);
    EXPECT_TRUE(job->pages().empty());
    ASSERT_TRUE(jobs_.receiveDirectPage(1, *id));
    EXPECT_EQ(job->pages().at(0).url(), "");
}

TEST_F(JobArrayTest, DirectPagesGoOnlyToJobsStillReceivingPages) {
    const int id = *startDirect("<job/>");
    const std::optional<std::string> page3 = jobs_.receiveDirectPage(3, id);
    ASSERT_TRUE(page3);
    EXPECT_EQ(*page3, (profile_.path() / "DirectJob1" / "3.emf").string());
    EXPECT_EQ(jobs_.receiveDirectPage(3, id), page3);
    EXPECT_EQ(jobs_.receiveDirectPage(1, 2), std::nullopt);
    // A service job with that id takes no direct pages.
    merge(serviceJob(5));
    EXPECT_EQ(jobs_.receiveDirectPage(1, 5), std::nullopt);

    delegate_.notices.clear();
    const int dispatches = dispatcher_.count;
    jobs_.directJobReceived(id);
    EXPECT_EQ(jobs_.getPtpJob(id)->status(), Job::kReady);
    EXPECT_EQ(delegate_.notices, (std::vector<int>{1}));
    EXPECT_EQ(saves_, 1);
    EXPECT_EQ(dispatcher_.count, dispatches + 1);
    EXPECT_EQ(jobs_.receiveDirectPage(4, id), std::nullopt);

    // Completing again, or a job that is not listed, changes nothing.
    jobs_.getPtpJob(id)->setStatus(Job::kPrinting);
    jobs_.directJobReceived(id);
    jobs_.directJobReceived(42);
    EXPECT_EQ(jobs_.getPtpJob(id)->status(), Job::kPrinting);
    EXPECT_EQ(saves_, 1);
}

TEST_F(JobArrayTest, AtMostSixteenDirectJobsReceiveAtOnce) {
    std::vector<int> ids;
    for (int i = 0; i < JobArray::kMaxUploadingDirectJobs; ++i)
        ids.push_back(startDirect("<job/>").value_or(-1));
    EXPECT_EQ(ids.back(), JobArray::kMaxUploadingDirectJobs);
    EXPECT_EQ(startDirect("<job/>"), std::nullopt);
    EXPECT_EQ(jobs_.count(), static_cast<size_t>(JobArray::kMaxUploadingDirectJobs));
    jobs_.directJobReceived(ids.front());
    EXPECT_EQ(startDirect("<job/>"), JobArray::kMaxUploadingDirectJobs + 1);
}

TEST_F(JobArrayTest, StalledDirectJobsGiveTheirPlacesUpToANewOne) {
    using namespace std::chrono_literals;
    auto now = std::chrono::steady_clock::now();
    jobs_.setClock([&now] { return now; });
    auto storePage = [](const std::optional<std::string>& path) {
        ASSERT_TRUE(path);
        std::filesystem::create_directories(std::filesystem::path(*path).parent_path());
        test::ScratchDirectory::writeFile(*path, "page");
    };
    std::vector<int> ids;
    for (int i = 0; i < JobArray::kMaxUploadingDirectJobs; ++i)
        ids.push_back(startDirect("<job/>").value_or(-1));
    const int active = ids[0];
    const int stalled = ids[1];
    const int done = ids[2];
    storePage(jobs_.receiveDirectPage(1, stalled));
    storePage(jobs_.receiveDirectPage(1, done));
    jobs_.directJobReceived(done);
    const int last = *startDirect("<job/>");
    ASSERT_EQ(startDirect("<job/>"), std::nullopt);

    now += JobArray::kStalledDirectJobAge - 1min;
    storePage(jobs_.receiveDirectPage(1, active));
    EXPECT_EQ(startDirect("<job/>"), std::nullopt);

    now += 1min;
    const std::optional<int> fresh = startDirect("<job/>");
    ASSERT_TRUE(fresh);
    // Only the job that took a range lately and the finished one are left beside the new one.
    EXPECT_EQ(jobs_.count(), 3u);
    EXPECT_NE(jobs_.getPtpJob(active), nullptr);
    EXPECT_EQ(jobs_.getPtpJob(done)->status(), Job::kReady);
    EXPECT_EQ(jobs_.getPtpJob(stalled), nullptr);
    EXPECT_EQ(jobs_.getPtpJob(last), nullptr);
    EXPECT_FALSE(
        std::filesystem::exists(profile_.path() / ("DirectJob" + std::to_string(stalled))));
    EXPECT_TRUE(std::filesystem::exists(profile_.path() / ("DirectJob" + std::to_string(active))));
    // The ids given up are not handed out again.
    EXPECT_EQ(*fresh, last + 1);
    EXPECT_EQ(saves_, 2);
}

TEST_F(JobArrayTest, ADirectJobHoldsAtMostTenThousandPages) {
    const int id = *startDirect("<job/>");
    for (int number = 1; number <= Job::kMaxDirectPages; ++number)
        ASSERT_TRUE(jobs_.receiveDirectPage(number, id)) << number;
    EXPECT_EQ(jobs_.receiveDirectPage(Job::kMaxDirectPages + 1, id), std::nullopt);
    EXPECT_TRUE(jobs_.receiveDirectPage(Job::kMaxDirectPages, id));
}

// Direct jobs are kept in the profile file, which is read back only when it is UTF-8: a job
// element with one stray byte would cost every saved job and sharing identity at the next start.
TEST_F(JobArrayTest, ADirectJobThatIsNotUtf8TextIsRefused) {
    const std::string latin1 = "caf\xe9";
    const std::string cases[] = {
        "<job><document>" + latin1 + "</document></job>",
        "<job><printing-person><login>" + latin1 + "</login></printing-person></job>",
        "<job><printer title=\"" + latin1 + "\">p1</printer></job>",
        "<job><extra><deeper>" + latin1 + "</deeper></extra></job>",
        "<job><document>ok</document></job><job><document>" + latin1 + "</document></job>",
    };
    for (const std::string& children : cases) {
        SCOPED_TRACE(children);
        const std::optional<int> id = startDirect(children);
        pugi::xml_document saved;
        jobs_.saveToConfig(saved.append_child("config"));
        EXPECT_TRUE(isValidUtf8(xmlToString(saved)));
        // The last case's first job is plain text and is taken; its second is never read.
        if (children.starts_with("<job><document>ok"))
            EXPECT_TRUE(id.has_value());
        else
            EXPECT_EQ(id, std::nullopt);
    }
    EXPECT_EQ(jobs_.count(), 1u);
}

// Unfinished direct jobs survive a restart through a real profile file; service jobs and
// finished direct jobs do not.
TEST_F(JobArrayTest, SavedDirectJobsComeBackNewAndWaiting) {
    merge(serviceJob(1));
    const int done = *startDirect("<job><document>Done</document></job>");
    const int uploading = *startDirect("<job><document>Half sent</document></job>");
    const int ready = *startDirect("<job><document>Ready</document></job>");
    const int rejected = *startDirect("<job><document>Refused</document></job>");
    jobs_.receiveDirectPage(2, uploading);
    jobs_.receiveDirectPage(1, ready);
    jobs_.directJobReceived(ready);
    jobs_.getPtpJob(done)->setStatus(Job::kDone);
    jobs_.getPtpJob(rejected)->setStatus(Job::kRejected);

    pugi::xml_document saved;
    jobs_.saveToConfig(saved.append_child("config"));
    std::string error;
    const fs::path file = profile_.path() / "config.xml";
    ASSERT_TRUE(writeXmlFileAtomically(saved, file, error)) << error;

    CountingDispatcher dispatcher;
    JobArray restored(dispatcher, {[this] { return profile_.path(); }, {}});
    pugi::xml_document read;
    ASSERT_TRUE(read.load_file(file.c_str()));
    restored.updateFromConfig(read.child("config").child("jobs"));

    ASSERT_EQ(restored.count(), 2u);
    for (const int id : {uploading, ready}) {
        const Job* job = restored.getPtpJob(id);
        ASSERT_NE(job, nullptr) << id;
        EXPECT_TRUE(job->isPTP());
        EXPECT_TRUE(job->isNew());
        EXPECT_EQ(job->status(), Job::kWaiting);
        EXPECT_EQ(job->sender().serverId(), -1);
        EXPECT_EQ(job->getJobDir(), profile_.path() / ("DirectJob" + std::to_string(id)));
    }
    EXPECT_EQ(restored.getPtpJob(uploading)->title(), "Half sent");
    EXPECT_EQ(restored.getPtpJob(uploading)->pages().at(0).number(), 2);
    EXPECT_EQ(restored.newJobs(), 2);
    EXPECT_EQ(dispatcher.count, 1);
    // The finished job's id is free again.
    EXPECT_EQ(restored.startReceivingPtpJob(element("<data><job/></data>")), done);
}

// Signing out empties the list while saved direct jobs keep their page files in their folders,
// and the direct print server goes on taking jobs. A nearby client's job opened before the
// profile is read again must neither write into a saved job's folder nor be merged with a
// saved job when the profile is read.
TEST_F(JobArrayTest, ADirectJobOpenedWhileSignedOutNeverMixesWithASavedOne) {
    const int withPages = *startDirect("<job><document>Saved</document></job>");
    const std::string savedPage = *jobs_.receiveDirectPage(1, withPages);
    fs::create_directories(fs::path(savedPage).parent_path());
    test::ScratchDirectory::writeFile(savedPage, "saved page");
    ASSERT_TRUE(startDirect("<job><document>Nothing arrived</document></job>"));
    pugi::xml_document profile;
    jobs_.saveToConfig(profile.append_child("config"));
    jobs_.removeAllObjects();

    const int stranger = *startDirect("<job><document>Stranger</document></job>");
    EXPECT_NE(stranger, withPages);
    const std::string strangerPage = jobs_.receiveDirectPage(1, stranger).value_or("");
    EXPECT_NE(strangerPage, savedPage);

    jobs_.updateFromConfig(profile.child("config").child("jobs"));
    ASSERT_NE(jobs_.getPtpJob(withPages), nullptr);
    EXPECT_EQ(jobs_.getPtpJob(withPages)->title(), "Saved");
    ASSERT_NE(jobs_.getPtpJob(stranger), nullptr);
    EXPECT_EQ(jobs_.getPtpJob(stranger)->title(), "Stranger");
    EXPECT_EQ(jobs_.getPtpJob(stranger)->status(), Job::kUploading);
    EXPECT_EQ(test::ScratchDirectory::readFile(savedPage), "saved page");
}

TEST_F(JobArrayTest, ARestoredDirectJobDropsPageAddressesAndExtraPages) {
    std::string pages;
    for (int number = 1; number <= Job::kMaxDirectPages + 5; ++number)
        pages += "<page page-number=\"" + std::to_string(number) +
                 "\" url=\"https://stranger.example/" + std::to_string(number) + "\"/>";
    jobs_.updateFromConfig(
        element("<jobs><job id=\"3\"><printing-person id=\"-1\"/>" + pages + "</job></jobs>"));
    const Job* job = jobs_.getPtpJob(3);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(jobs_.getJob(3), nullptr);
    EXPECT_EQ(job->pages().size(), static_cast<size_t>(Job::kMaxDirectPages));
    for (const Page& page : job->pages())
        ASSERT_EQ(page.url(), "") << page.number();
}

// A worker's copy shares the listed job's sender; a refresh from the service must leave the
// object the worker reads alone and give the listed job a new one.
TEST_F(JobArrayTest, ARefreshNeverRewritesTheSenderAWorkerReads) {
    merge(serviceJob(5));
    const Job copy = Job::initWithJob(*jobs_.getJob(5));
    std::atomic<bool> done = false;
    std::atomic<int> changed = 0;
    std::thread worker([&] {
        while (!done) {
            if (copy.sender().login() != "bob" || copy.sender().serverId() != 17)
                ++changed;
        }
    });
    for (int refresh = 0; refresh < 200; ++refresh)
        merge("<job id=\"5\"><printing-person id=\"" + std::to_string(100 + refresh) +
              "\"><login>someone-else</login></printing-person></job>");
    done = true;
    worker.join();
    EXPECT_EQ(changed.load(), 0);
    EXPECT_EQ(copy.sender().login(), "bob");
    EXPECT_EQ(jobs_.getJob(5)->sender().login(), "someone-else");
    EXPECT_NE(copy.senderObject(), jobs_.getJob(5)->senderObject());
}

TEST_F(JobArrayTest, DelegatesAreToldInTheOrderAddedUntilRemoved) {
    std::vector<std::string> order;
    struct Named : JobArrayDelegate {
        Named(std::vector<std::string>& order, std::string name) : order(order), name(name) {}
        void jobArray_Changed(int added) override {
            order.push_back(name + ":" + std::to_string(added));
        }
        std::vector<std::string>& order;
        std::string name;
    };
    Named first(order, "first");
    Named second(order, "second");
    jobs_.addDelegate(&first);
    jobs_.addDelegate(&second);
    merge(serviceJob(1));
    jobs_.removeDelegate(&first);
    jobs_.notifyDelegates(0);
    EXPECT_EQ(order, (std::vector<std::string>{"first:1", "second:1", "second:0"}));
}

// A delegate may close another while being told (the main controller closing the job list
// window on sign-out); the closed one, possibly destroyed by then, must not be told.
TEST_F(JobArrayTest, ADelegateRemovedByAnotherDuringANoticeIsNotTold) {
    struct Window : JobArrayDelegate {
        void jobArray_Changed(int) override {
            if (closed)
                toldAfterClosing = true;
        }
        bool closed = false;
        bool toldAfterClosing = false;
    };
    struct Controller : JobArrayDelegate {
        Controller(JobArray& jobs, Window& window) : jobs(jobs), window(window) {}
        void jobArray_Changed(int) override {
            jobs.removeDelegate(&window);
            window.closed = true;
        }
        JobArray& jobs;
        Window& window;
    };
    Window window;
    Controller controller(jobs_, window);
    jobs_.addDelegate(&controller);
    jobs_.addDelegate(&window);
    jobs_.removeAllObjects();
    EXPECT_TRUE(window.closed);
    EXPECT_FALSE(window.toldAfterClosing);
}

}  // namespace
}  // namespace velmora::console
