#include "tests/console/jobs/DirectServerFixture.h"

#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"

#include <vector>

namespace velmora::console {
namespace {

using test::DirectClient;

class HTTPServerTest : public DirectServerFixture {};

// One "/post" of a job opened for the case: its header lines (with "{job}" for the job's id),
// the body, the answer it must get, and the job's state right after it.
struct PostStep {
    std::string headers;
    std::string body;
    int status;
    int32_t jobStatus = Job::kUploading;
};

struct RangeCase {
    std::string name;
    std::vector<PostStep> steps;
    // What page 1's file holds at the end; nullopt: no file at all.
    std::optional<std::string> stored;
};

std::string headers(const std::string& page, const std::string& range = "") {
    std::string lines = "TD-Job: {job}\r\nTD-Page: " + page + "\r\n";
    if (!range.empty())
        lines += "Content-Range: " + range + "\r\n";
    return lines;
}

std::string bytes(size_t size, size_t from = 0) {
    return DirectServerFixture::pattern(size, from);
}

std::vector<RangeCase> rangeCases() {
    const auto ready = Job::kReady;
    return {
        {"ThreeRangesOfOnePageCompleteTheJobOnlyWithTheLast",
         {{headers("1/1", "bytes 0-99/250"), bytes(100), 200},
          {headers("1/1", "bytes 100-199/250"), bytes(100, 100), 200},
          {headers("1/1", "bytes 200-249/250"), bytes(50, 200), 200, ready}},
         bytes(250)},
        {"RangesWithoutTheBytesPrefix",
         {{headers("1/1", "0-99/150"), bytes(100), 200},
          {headers("1/1", "100-149/150"), bytes(50, 100), 200, ready}},
         bytes(150)},
        {"RangeBeyondTheStoredPartStoresNothing",
         {{headers("1/1", "bytes 0-49/250"), bytes(50), 200},
          {headers("1/1", "bytes 100-199/250"), bytes(100, 100), 500}},
         bytes(50)},
        {"FirstRangeSentAgainIsRefused",
         {{headers("1/1", "bytes 0-99/250"), bytes(100), 200},
          {headers("1/1", "bytes 0-99/250"), std::string(100, 'x'), 500}},
         bytes(100)},
        {"LaterRangeOfAPageWithoutFileStoresNothing",
         {{headers("1/1", "bytes 100-199/250"), bytes(100, 100), 500}},
         std::nullopt},
        {"OffsetsBeyondThirtyTwoBitsAreNotCutDown",
         {{headers("1/1", "bytes 4294967296-4294967395/4294967396"), bytes(100), 500}},
         std::nullopt},
        {"BodyShorterThanItsRange",
         {{headers("1/1", "bytes 0-99/250"), bytes(50), 500}},
         std::nullopt},
        {"WholePageWithoutRangeCompletesTheLastPage",
         {{headers("1/1"), bytes(10), 200, ready}},
         bytes(10)},
        {"PageCountZeroMeansTheLastPage", {{headers("1/0"), bytes(10), 200, ready}}, bytes(10)},
        {"AnEarlierPageDoesNotCompleteTheJob", {{headers("1/2"), bytes(10), 200}}, bytes(10)},
        {"JobHeaderMissing", {{"TD-Page: 1/1\r\n", bytes(10), 500}}, std::nullopt},
        {"JobZero", {{"TD-Job: 0\r\nTD-Page: 1/1\r\n", bytes(10), 500}}, std::nullopt},
        {"UnknownJob", {{"TD-Job: 77\r\nTD-Page: 1/1\r\n", bytes(10), 500}}, std::nullopt},
        {"HeaderNamesInAnyCase",
         {{"tD-jOB: {job}\r\ntd-PAGE: 1/1\r\ncOnTeNt-RaNgE: bytes 0-9/10\r\n", bytes(10), 200,
           ready}},
         bytes(10)},
        {"PageHeaderMissing", {{"TD-Job: {job}\r\n", bytes(10), 400}}, std::nullopt},
        {"PageWithoutSlash", {{headers("1"), bytes(10), 400}}, std::nullopt},
        {"PageNotANumber", {{headers("one/1"), bytes(10), 400}}, std::nullopt},
        {"PageCountNotANumber", {{headers("1/x"), bytes(10), 400}}, std::nullopt},
        {"PageZero", {{headers("0/1"), bytes(10), 400}}, std::nullopt},
        {"PageNegative", {{headers("-1/1"), bytes(10), 400}}, std::nullopt},
        {"PageBeyondThirtyTwoBits", {{headers("4294967297/1"), bytes(10), 400}}, std::nullopt},
        {"RangeWithoutTotal", {{headers("1/1", "bytes 0-9"), bytes(10), 400}}, std::nullopt},
        {"RangeWithoutDash", {{headers("1/1", "bytes 0/10"), bytes(10), 400}}, std::nullopt},
        {"RangeBackwards", {{headers("1/1", "bytes 9-0/10"), bytes(10), 400}}, std::nullopt},
        {"RangeEndingBeyondTheTotal",
         {{headers("1/1", "bytes 0-10/10"), bytes(11), 400}},
         std::nullopt},
        {"RangeWithSign", {{headers("1/1", "bytes +0-9/10"), bytes(10), 400}}, std::nullopt},
        {"RangeOverflowing",
         {{headers("1/1", "bytes 0-99999999999999999999/99999999999999999999"), bytes(10), 400}},
         std::nullopt},
        {"RangeLongerThanAllowed",
         {{headers("1/1", "bytes 0-67108864/67108865"), bytes(10), 413}},
         std::nullopt},
    };
}

TEST_F(HTTPServerTest, StoresOrRefusesPageRanges) {
    for (const RangeCase& range : rangeCases()) {
        SCOPED_TRACE(range.name);
        const int job = openJob();
        ASSERT_GT(job, 0);
        for (size_t i = 0; i < range.steps.size(); ++i) {
            const PostStep& step = range.steps[i];
            SCOPED_TRACE("step " + std::to_string(i + 1));
            const std::string lines =
                std::regex_replace(step.headers, std::regex("\\{job\\}"), std::to_string(job));
            EXPECT_EQ(exchange(DirectClient::request("POST", "/post", lines, step.body)).status,
                      step.status);
            EXPECT_EQ(status(job), step.jobStatus);
        }
        if (range.stored)
            EXPECT_EQ(stored(job, 1), *range.stored);
        else
            EXPECT_FALSE(std::filesystem::exists(pageFile(job, 1)));
        // The next case starts from an empty list again (the list takes 16 uploading jobs).
        jobs_.removeAllObjects();
        std::filesystem::remove_all(pageFile(job, 1).parent_path());
    }
}

TEST_F(HTTPServerTest, ARequestIsAnsweredOnlyOnceItsWholeBodyArrived) {
    const int job = openJob();
    const std::string request = postRequest(job, "1/1", "bytes 0-9999/10000", pattern(10000));
    const uint16_t port = port_;
    const auto [answeredEarly, reply] = pump([port, request] {
        DirectClient client(port);
        client.send(request.substr(0, request.size() - 1));
        const bool early = client.closedWithin(std::chrono::milliseconds(300));
        client.send(request.substr(request.size() - 1));
        return std::pair{early, client.receive()};
    });
    EXPECT_FALSE(answeredEarly);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(status(job), Job::kReady);
    EXPECT_EQ(stored(job, 1), pattern(10000));
}

TEST_F(HTTPServerTest, HelloIsAnswered501WithoutBody) {
    const auto reply = exchange(DirectClient::request("GET", "/hello", "TD-Job: 5\r\n", ""));
    EXPECT_EQ(reply.status, 501);
    EXPECT_EQ(reply.body, "");
    EXPECT_NE(reply.head.find("Content-Length: 0"), std::string::npos);
}

TEST_F(HTTPServerTest, UnknownPathsGetThe501PageWithTheirUrlEscaped) {
    const auto reply =
        exchange(DirectClient::request("GET", "/x?<script>alert(\"&'\")</script>", "", ""));
    EXPECT_EQ(reply.status, 501);
    EXPECT_NE(reply.head.find("Content-Type: text/html"), std::string::npos);
    EXPECT_EQ(reply.body,
              "<html><head><title>501 - Not Implemented</title></head><body><h1>501 - Not "
              "Implemented</h1><p>No handler exists to handle "
              "http://127.0.0.1/x?&lt;script&gt;alert(&quot;&amp;&#39;&quot;)&lt;/script&gt;."
              "</p></body></html>");
}

TEST_F(HTTPServerTest, PathsMatchExactly) {
    for (const char* path : {"/hello/", "/Hello", "/postx", "/printers/x", "/"}) {
        SCOPED_TRACE(path);
        const auto reply = exchange(DirectClient::request("GET", path, "", ""));
        EXPECT_EQ(reply.status, 501);
        EXPECT_NE(reply.body.find("No handler exists"), std::string::npos);
    }
}

TEST_F(HTTPServerTest, PrintersListsOnlyThePrintersSharedWithNearbyClients) {
    const auto reply = exchange(DirectClient::request("GET", "/printers", "", ""));
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.head.find("Content-Type: text/xml"), std::string::npos);
    pugi::xml_document document;
    std::string error;
    ASSERT_TRUE(parseXml(document, reply.body, error)) << error;
    const auto listed = selectNodes(document, "/response/printers/printer");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_NE(reply.body.find(publicId("Shared_Queue")), std::string::npos);
    EXPECT_EQ(reply.body.find(publicId("Hidden_Queue")), std::string::npos);
    EXPECT_EQ(reply.body.find(publicId("Private_Queue")), std::string::npos);
}

TEST_F(HTTPServerTest, PrintersWithNothingSharedIsAnEmptyList) {
    printers_.parseLookupXml(pugi::xml_node());
    const auto reply = exchange(DirectClient::request("GET", "/printers", "", ""));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "<?xml version=\"1.0\"?><response><printers/></response>");
}

TEST_F(HTTPServerTest, NewJobsGetTheSmallestFreeIdsAndWaitForTheirPages) {
    const auto first = newJob(jobRequest(publicId("Shared_Queue")));
    const auto second = newJob(jobRequest(publicId("Shared_Queue")));
    EXPECT_EQ(first.status, 200);
    EXPECT_NE(first.head.find("Content-Type: text/xml"), std::string::npos);
    EXPECT_EQ(first.body, "<?xml version=\"1.0\"?><response><job id=\"1\"/></response>");
    EXPECT_EQ(second.body, "<?xml version=\"1.0\"?><response><job id=\"2\"/></response>");
    ASSERT_NE(jobs_.getPtpJob(2), nullptr);
    EXPECT_EQ(jobs_.getPtpJob(2)->status(), Job::kUploading);
    EXPECT_EQ(jobs_.getPtpJob(2)->title(), "Report");
    EXPECT_EQ(jobs_.getPtpJob(2)->sender().login(), "Nearby client");
}

TEST_F(HTTPServerTest, NewJobIsRefusedWithoutAJobForASharedPrinter) {
    struct Refusal {
        std::string name;
        std::string body;
        int status;
    };
    const std::vector<Refusal> refusals = {
        {"NotXml", "<data><job>", 500},
        {"Empty", "", 500},
        {"NoData",
         "<request><job><printer>" + publicId("Shared_Queue") +
             "</printer></job>"
             "</request>",
         400},
        {"NoJob", "<data><printer>" + publicId("Shared_Queue") + "</printer></data>", 400},
        {"NoPrinter", "<data><job><document>Report</document></job></data>", 400},
        {"PrinterNotShared", jobRequest(publicId("Private_Queue")), 400},
        {"PrinterHidden", jobRequest(publicId("Hidden_Queue")), 400},
        {"PrinterUnknown", jobRequest("ffffffff"), 400},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        EXPECT_EQ(newJob(refusal.body).status, refusal.status);
    }
    EXPECT_EQ(jobs_.count(), 0u);
}

TEST_F(HTTPServerTest, NewJobBeyondTheJobListsCapIsRefusedWith503) {
    for (int i = 0; i < JobArray::kMaxUploadingDirectJobs; ++i)
        ASSERT_GT(openJob(), 0);
    EXPECT_EQ(newJob(jobRequest(publicId("Shared_Queue"))).status, 503);
    EXPECT_EQ(jobs_.count(), static_cast<size_t>(JobArray::kMaxUploadingDirectJobs));
}

TEST_F(HTTPServerTest, CompletedJobIsSavedAndNoLongerTakesRanges) {
    const int job = openJob();
    EXPECT_EQ(post(job, "1/1", "bytes 0-9/10", pattern(10)).status, 200);
    EXPECT_EQ(status(job), Job::kReady);
    EXPECT_EQ(profileSaves_, 1);
    EXPECT_EQ(post(job, "2/2", std::nullopt, pattern(5)).status, 500);
    EXPECT_FALSE(std::filesystem::exists(pageFile(job, 2)));
}

TEST_F(HTTPServerTest, PagesArriveInAnyOrderAndTheLastNumberedPageCompletes) {
    const int job = openJob();
    EXPECT_EQ(post(job, "2/3", std::nullopt, pattern(20)).status, 200);
    EXPECT_EQ(post(job, "1/3", std::nullopt, pattern(10)).status, 200);
    EXPECT_EQ(status(job), Job::kUploading);
    EXPECT_EQ(post(job, "3/3", std::nullopt, pattern(30)).status, 200);
    EXPECT_EQ(status(job), Job::kReady);
    EXPECT_EQ(stored(job, 1), pattern(10));
    EXPECT_EQ(stored(job, 2), pattern(20));
    EXPECT_EQ(stored(job, 3), pattern(30));
}

TEST_F(HTTPServerTest, StateGoesThroughStartingAndRunningAndBackToIdle) {
    std::vector<int32_t> states;
    HTTPServer server(jobs_, printers_);
    server.setStateObserver([&states](int32_t state) { states.push_back(state); });
    ASSERT_TRUE(server.start(0, QHostAddress::LocalHost));
    EXPECT_EQ(server.state(), HTTPServer::kRunning);
    server.stop();
    EXPECT_EQ(states, (std::vector<int32_t>{1, 2, 3, 0}));
    EXPECT_EQ(server.serverPort(), 0);
}

TEST_F(HTTPServerTest, PortInUseIsRecordedLoggedAndLeavesTheServerIdle) {
    const auto sink = std::make_shared<CaptureLogSink>();
    const auto previous = Logger::setSink(sink);
    HTTPServer second(jobs_, printers_);
    EXPECT_FALSE(second.start(port_, QHostAddress::LocalHost));
    Logger::setSink(previous);
    EXPECT_EQ(second.state(), HTTPServer::kIdle);
    EXPECT_EQ(second.lastError(), "Unable to bind socket to address.");
    EXPECT_TRUE(
        sink->contains(LogLevel::Error, "HTTPServer error: Unable to bind socket to address."));
    // The first server still answers.
    EXPECT_EQ(exchange(DirectClient::request("GET", "/hello", "", "")).status, 501);
}

}  // namespace
}  // namespace velmora::console
