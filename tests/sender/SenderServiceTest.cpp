#include <gtest/gtest.h>

#include "tests/sender/ServiceFixture.h"
#include "tests/support/LoopbackHttpServer.h"

namespace velmora::test {
namespace {

using SenderServiceTest = ServiceFixture;

TEST_F(SenderServiceTest, DeliversTheJobAndLeavesTheSuccessMessage) {
    const std::string page1 = writePage("0001.bmp", 1500000, 1);
    const std::string page2 = writePage("0002.bmp", 2000, 2);
    EXPECT_EQ(runSender({{"media", "Letter"},
                         {"InputSlot", "tray1"},
                         {"com.apple.print.PrintSettings.PMCopies..n.", "3"},
                         {"com.apple.print.PrintSettings.PMCopyCollate..b.", "false"},
                         {"Duplex", "DuplexNoTumble"}}),
              successMessage());
    EXPECT_FALSE(std::filesystem::exists(spoolDir()));

    const auto state = service_->state();
    EXPECT_EQ(state.get<int>("malformed_count"), 0);
    EXPECT_EQ(state.get<int>("deviation_count"), 0);
    const auto job = onlyJob();
    EXPECT_EQ(job.get<std::string>("status"), "ready");
    EXPECT_EQ(job.get<int>("final_pages"), 2);
    const auto& fields = job.get_child("fields");
    EXPECT_EQ(fields.get<std::string>("paper-format"), "Letter");
    EXPECT_EQ(fields.get<std::string>("paper-orientation"), "1");
    EXPECT_EQ(fields.get<std::string>("bin"), "tray1");
    EXPECT_EQ(fields.count("copies"), 0u);  // the queue named the printer: one copy
    EXPECT_EQ(fields.get<std::string>("collate"), "1");
    EXPECT_EQ(fields.get<std::string>("duplex"), "2");
    EXPECT_EQ(fields.get<std::string>("pack"), "1");
    EXPECT_EQ(fields.get<std::string>("transport"), "bmp");
    EXPECT_EQ(fields.count("encrypt"), 0u);
    EXPECT_EQ(fields.count("width"), 0u);
    const int jobId = job.get<int>("id");
    EXPECT_EQ(gunzip(service_->page(jobId, 1)), page1);
    EXPECT_EQ(gunzip(service_->page(jobId, 2)), page2);
    // The first page needed two ranges to the server.
    EXPECT_EQ(job.get<int>("pages.1.ranges"), 2);

    const auto logins = service_->requests("soap");
    ASSERT_FALSE(logins.empty());
    EXPECT_EQ(logins[0].get<std::string>("operation"), "Login");
    EXPECT_NE(logins[0].get<std::string>("param").find("echo=\"favorites\""), std::string::npos);
    for (const char* line : {"copies: 1", "collate: 1", "duplex: 2", "encryption: 0",
                             "orientation: portrait", "bin: tray1", "format: Letter"}) {
        EXPECT_TRUE(logged(line)) << line;
    }
    EXPECT_TRUE(logged("Posting job " + std::to_string(jobId) + " to " + service_->base() +
                       "/tdUpload.aspx?job=" + std::to_string(jobId)));
}

TEST_F(SenderServiceTest, CompletionRemovesThePagesAndItsOwnFilesButNothingElse) {
    writePage("1.bmp", 100);
    writePage("2.bmp", 100);
    ScratchDirectory::writeFile(spoolDir() / "notes.txt", "not the sender's");
    EXPECT_EQ(runSender(), successMessage());
    EXPECT_EQ(ScratchDirectory::readFile(spoolDir() / "notes.txt"), "not the sender's");
    for (const char* name : {"1.bmp", "1.bmp.enc", "2.bmp", "2.bmp.enc", "1.bmp.tmp"})
        EXPECT_FALSE(std::filesystem::exists(spoolDir() / name)) << name;
    EXPECT_TRUE(logged("Cannot remove the spool directory " + spoolDir().string() +
                       ": Cannot remove " + spoolDir().string() + ": Directory not empty"));
}

TEST_F(SenderServiceTest, ATitleMarkerInTheDocumentsTitleCannotForgeTheNotice) {
    writePage("1.bmp", 100);
    EXPECT_EQ(runSender({{"com.apple.print.JobInfo.PMJobName",
                          "Bank/phTitYour account is locked, call 555-0100"}}),
              std::string("Bank/ phTitYour account is locked, call 555-0100/phTit"
                          "successfully sent for printing on ") +
                  kPrinterTitle);
}

TEST_F(SenderServiceTest, AVeryLongTitleCannotPushTheSendersOwnWordsOutOfTheMessage) {
    writePage("1.bmp", 100);
    const std::string message =
        runSender({{"com.apple.print.JobInfo.PMJobName",
                    "Your account is locked, call 555-0100 " + std::string(5000, ' ')}});
    EXPECT_LE(message.size(), Sender::kMaxMessageBytes);
    EXPECT_EQ(message.find("/phTit"), message.rfind("/phTit"));
    const std::string ending =
        std::string("/phTitsuccessfully sent for printing on ") + kPrinterTitle;
    ASSERT_GE(message.size(), ending.size());
    EXPECT_EQ(message.substr(message.size() - ending.size()), ending);
}

TEST_F(SenderServiceTest, MissingTitleAndFormatTakeTheirDefaultsAndACustomSizeItsSetup) {
    setup_.defaultFormat = "Custom";
    setup_.customWidth = 1500;
    setup_.customHeight = 2500;
    setup_.notify = true;
    writeSetup(setup_);
    writePage("1.bmp", 100);
    EXPECT_EQ(
        runSender({{"com.apple.print.JobInfo.PMJobName", ""}, {"media", ""}}),
        std::string("Untitled document/phTitsuccessfully sent for printing on ") + kPrinterTitle);
    const auto fields = onlyJob().get_child("fields");
    EXPECT_EQ(fields.get<std::string>("document"), "Untitled document");
    EXPECT_EQ(fields.get<std::string>("paper-format"), "Custom");
    EXPECT_EQ(fields.get<std::string>("width"), "1500");
    EXPECT_EQ(fields.get<std::string>("height"), "2500");
    EXPECT_EQ(fields.get<std::string>("print-notify"), "1");
    EXPECT_EQ(service_->state().get<int>("deviation_count"), 0);
}

TEST_F(SenderServiceTest, AnEncryptionModeTheSenderCannotPerformIsNotAnnounced) {
    setup_.encryption = 3;
    writeSetup(setup_);
    const std::string page = writePage("1.bmp", 100);
    EXPECT_EQ(runSender(), successMessage());
    const auto job = onlyJob();
    EXPECT_EQ(job.get_child("fields").count("encrypt-method"), 0u);
    EXPECT_EQ(gunzip(service_->page(job.get<int>("id"), 1)), page);
}

TEST_F(SenderServiceTest, ARefusedLogInEndsWithTheServiceMessage) {
    service_->addFault(R"({"match": {"operation": "Login"}, "soap_message": "Session expired"})");
    writePage("1.bmp", 100);
    EXPECT_EQ(runSender(), "Session expired");
    EXPECT_TRUE(logged("Login with token Error"));
    EXPECT_TRUE(RefServiceProcess::jobs(service_->state()).empty());
}

TEST_F(SenderServiceTest, ARefusedAnnouncementKeepsThePagesUntouched) {
    service_->addFault(
        R"({"match": {"operation": "PrePostJob2"}, "soap_message": "Printer is offline"})");
    writePage("1.bmp", 100);
    EXPECT_EQ(runSender(), "Printer is offline");
    EXPECT_TRUE(std::filesystem::exists(spoolDir() / "1.bmp"));
    EXPECT_FALSE(std::filesystem::exists(spoolDir() / "1.bmp.enc"));
}

TEST_F(SenderServiceTest, ARefusedUploadCancelsTheJobAndKeepsTheSpoolDirectory) {
    service_->addFault(R"({"match": {"path": "/tdUpload.aspx"}, "status": 403})");
    writePage("1.bmp", 100);
    writePage("2.bmp", 100);
    EXPECT_EQ(runSender(), "Forbidden");
    const auto job = onlyJob();
    EXPECT_EQ(job.get<std::string>("status"), "cancelled");
    EXPECT_TRUE(std::filesystem::exists(spoolDir() / "1.bmp.enc"));
    EXPECT_TRUE(std::filesystem::exists(spoolDir() / "2.bmp.enc"));
    EXPECT_TRUE(logged("Delivery error, job cancelled. Error: Forbidden"));
}

TEST_F(SenderServiceTest, ARefusedKeyCancelsTheJob) {
    setup_.encryption = 2;
    writeSetup(setup_);
    service_->addFault(R"({"match": {"operation": "MakeKey"}, "soap_message": "Key store down"})");
    writePage("1.bmp", 100);
    EXPECT_EQ(runSender(), "Key store down");
    EXPECT_EQ(onlyJob().get<std::string>("status"), "cancelled");
    EXPECT_FALSE(std::filesystem::exists(spoolDir() / "1.bmp.enc"));
}

TEST_F(SenderServiceTest, AFailedCancellationReplacesTheDeliveryError) {
    service_->addFault(R"([{"match": {"path": "/tdUpload.aspx"}, "status": 500},
                           {"match": {"operation": "UpdateJob"}, "soap_message": "Busy"}])");
    writePage("1.bmp", 100);
    EXPECT_EQ(runSender(), "Busy");
    EXPECT_TRUE(logged("Delivery error, job cancelled. Error: Internal Server Error"));
}

TEST_F(SenderServiceTest, ARefusedCompletionNeitherCancelsNorRemovesAnything) {
    service_->addFault(
        R"({"match": {"operation": "UpdateJob"}, "soap_message": "Quota exceeded"})");
    writePage("1.bmp", 100);
    EXPECT_EQ(runSender(), "Quota exceeded");
    const auto job = onlyJob();
    EXPECT_EQ(job.get<std::string>("status"), "posting");
    EXPECT_TRUE(std::filesystem::exists(spoolDir() / "1.bmp.enc"));
    EXPECT_FALSE(logged("Delivery error, job cancelled. Error: Quota exceeded"));
}

// A nearby console's direct print server, played by a loopback server.
class NearbyConsoleTest : public ServiceFixture {
  protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        console_.setHandler([this](const LoopbackHttpServer::Request& request) {
            LoopbackHttpServer::Reply reply;
            if (request.target == "/hello") {
                reply.status = helloStatus_;
                if (dripHello_) {
                    reply.body = std::string(40, 'h');
                    reply.tricklePauseMilliseconds = 100;
                }
            } else if (request.header("td-page").rfind(failingPage_, 0) == 0) {
                reply.status = 500;
            }
            reply.endless = endlessAnswers_;
            return reply;
        });
    }
    void useDirectAddress(const std::string& address) {
        service_->seed(R"({"accounts": [{"login": "bob", "direct_address": ")" + address +
                       R"("}]})");
    }
    std::string bareAddress() const { return "127.0.0.1:" + std::to_string(console_.port()); }
    std::vector<LoopbackHttpServer::Request> posts() const {
        std::vector<LoopbackHttpServer::Request> list;
        for (const auto& request : console_.requests()) {
            if (request.target == "/post")
                list.push_back(request);
        }
        return list;
    }
    // The console's ranges of one page, joined.
    std::string directPage(int pageNo, int pageCount) const {
        std::string bytes;
        for (const auto& request : posts()) {
            if (request.header("td-page") ==
                std::to_string(pageNo) + "/" + std::to_string(pageCount))
                bytes += request.body;
        }
        return bytes;
    }

    int helloStatus_ = 200;
    std::string failingPage_ = "none";
    bool dripHello_ = false;
    bool endlessAnswers_ = false;
    LoopbackHttpServer console_{[](const auto&) { return LoopbackHttpServer::Reply{}; }};
};

TEST_F(NearbyConsoleTest, ABareAddressIsProbedAndTakesEveryPageOverPlainHttp) {
    useDirectAddress(bareAddress());
    const std::string page1 = writePage("1.bmp", 300000, 1);
    const std::string page2 = writePage("2.bmp", 1000, 2);
    EXPECT_EQ(runSender(), successMessage());

    const auto requests = console_.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].target, "/hello");
    EXPECT_EQ(requests[0].header("td-server"), "127.0.0.1");
    const auto job = onlyJob();
    const int jobId = job.get<int>("id");
    EXPECT_EQ(requests[0].header("td-job"), std::to_string(jobId));
    for (const auto& request : posts()) {
        EXPECT_EQ(request.headers.count("td-token"), 0u);
        EXPECT_EQ(request.header("td-job"), std::to_string(jobId));
        EXPECT_LE(request.body.size(), 131071u);
    }
    EXPECT_EQ(posts().size(), 4u);  // page 1 in three ranges, page 2 in one
    EXPECT_EQ(gunzip(directPage(1, 2)), page1);
    EXPECT_EQ(gunzip(directPage(2, 2)), page2);
    EXPECT_TRUE(job.get_child("pages").empty());
    EXPECT_EQ(job.get<std::string>("status"), "ready");
    EXPECT_TRUE(logged("direct post path: http://" + bareAddress() + "/post"));
}

TEST_F(NearbyConsoleTest, AnAddressWithItsSchemeIsUsedAsItIs) {
    useDirectAddress("http://" + bareAddress());
    writePage("1.bmp", 100);
    EXPECT_EQ(runSender(), successMessage());
    EXPECT_EQ(posts().size(), 1u);
}

TEST_F(NearbyConsoleTest, ARefusedProbeSendsEveryPageToTheServer) {
    helloStatus_ = 501;
    useDirectAddress(bareAddress());
    const std::string page = writePage("1.bmp", 100);
    EXPECT_EQ(runSender(), successMessage());
    EXPECT_EQ(console_.requests().size(), 1u);
    EXPECT_TRUE(posts().empty());
    EXPECT_TRUE(logged("direct error: Not Implemented"));
    EXPECT_EQ(gunzip(service_->page(onlyJob().get<int>("id"), 1)), page);
}

TEST_F(NearbyConsoleTest, AFailedDirectPageAndAllLaterOnesGoToTheServer) {
    failingPage_ = "2/";
    useDirectAddress(bareAddress());
    const std::string page1 = writePage("1.bmp", 100, 1);
    const std::string page2 = writePage("2.bmp", 200, 2);
    const std::string page3 = writePage("3.bmp", 300, 3);
    EXPECT_EQ(runSender(), successMessage());

    EXPECT_EQ(gunzip(directPage(1, 3)), page1);
    const auto job = onlyJob();
    const int jobId = job.get<int>("id");
    EXPECT_EQ(job.get_child("pages").count("1"), 0u);
    EXPECT_EQ(gunzip(service_->page(jobId, 2)), page2);
    EXPECT_EQ(gunzip(service_->page(jobId, 3)), page3);
    // Page 3 was never offered to the console.
    for (const auto& request : posts())
        EXPECT_NE(request.header("td-page"), "3/3");
    EXPECT_TRUE(logged("direct error: Internal Server Error"));
    EXPECT_EQ(job.get<std::string>("status"), "ready");
}

// The probe's two seconds are all a nearby console gets, however it paces its answer.
TEST_F(NearbyConsoleTest, AConsoleThatDripsItsHelloIsGivenUpForTheService) {
    dripHello_ = true;
    useDirectAddress(bareAddress());
    const std::string page = writePage("1.bmp", 100);
    EXPECT_EQ(runSender(), successMessage());
    EXPECT_TRUE(posts().empty());
    EXPECT_TRUE(logged("direct error: The request timed out."));
    EXPECT_EQ(gunzip(service_->page(onlyJob().get<int>("id"), 1)), page);
}

// Only the status of its answers counts, so answers that never end cannot hold the job.
TEST_F(NearbyConsoleTest, AConsoleWhoseAnswersNeverEndStillTakesThePages) {
    endlessAnswers_ = true;
    useDirectAddress(bareAddress());
    const std::string page = writePage("1.bmp", 300000);
    EXPECT_EQ(runSender(), successMessage());
    EXPECT_EQ(posts().size(), 3u);
    EXPECT_EQ(gunzip(directPage(1, 1)), page);
}

TEST_F(NearbyConsoleTest, AnAddressWithPathJunkIsNeverContacted) {
    useDirectAddress(bareAddress() + "/steal?x=1");
    writePage("1.bmp", 100);
    EXPECT_EQ(runSender(), successMessage());
    EXPECT_TRUE(console_.requests().empty());
    EXPECT_TRUE(logged("direct error: Invalid direct address \"" + bareAddress() + "/steal?x=1\""));
}

}  // namespace
}  // namespace velmora::test
