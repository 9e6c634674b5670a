#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/model/RemotePrinterArray.h"
#include "tests/sender/SenderFixture.h"
#include "tests/support/LoopbackHttpServer.h"

namespace velmora::test {
namespace {

LoopbackHttpServer::Reply soapReply(const std::string& response) {
    LoopbackHttpServer::Reply reply;
    reply.headers["Content-Type"] = "text/xml; charset=utf-8";
    reply.body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
        "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>" +
        response + "</soap:Body></soap:Envelope>";
    return reply;
}

// The sender's service calls against a service that answers as an attacker would.
class HostileServiceTest : public SenderFixture {
  protected:
    HostileServiceTest() : sender_(options(), systemDir()) {
        sender_.config().setToken(kToken);
        sender_.config().setService(service_.url("/tdService.asmx"));
    }
    void answer(const std::string& response) {
        service_.setHandler([response](const auto&) { return soapReply(response); });
    }
    SenderInetProvider& provider() { return sender_.inetProvider(); }

    LoopbackHttpServer service_{[](const auto&) { return soapReply(""); }};
    Sender sender_;
};

// The job goes out under the id the service names; anything but a whole positive 32-bit number
// must not be bent into some other job's id.
TEST_F(HostileServiceTest, JobIdsAreTakenOnlyWhenWrittenOutInFull) {
    const std::vector<std::string> refused = {"12abc", "99999999999", "2147483648", "-5",  "0",
                                              "",      " 12",         "12 ",        "+12", "1e3",
                                              "0x10",  "12.0",        "١٢",         "12\n"};
    for (const std::string& id : refused) {
        answer("<response success=\"true\"><job id=\"" + id +
               "\"/><post-address>http://127.0.0.1:1/up</post-address></response>");
        JobData job;
        std::string direct, server, error;
        EXPECT_FALSE(provider().prePostJob(job, direct, server, error)) << id;
        EXPECT_EQ(error, "No job in response") << id;
        EXPECT_EQ(job.serverId(), 0) << id;
        EXPECT_EQ(server, "") << id;
    }
    for (const auto& [text, id] : std::vector<std::pair<std::string, int>>{
             {"12", 12}, {"2147483647", 2147483647}, {"007", 7}}) {
        answer("<response success=\"true\"><job id=\"" + text + "\"/></response>");
        JobData job;
        std::string direct, server, error;
        ASSERT_TRUE(provider().prePostJob(job, direct, server, error)) << text << error;
        EXPECT_EQ(job.serverId(), id);
    }
}

// A reference to character 0 ends the attribute's stored text early, so "12&#0;abc" would be
// taken for job 12.
TEST_F(HostileServiceTest, AJobIdCutShortByAReferenceToCharacterZeroIsRefused) {
    for (const std::string id : {"12&#0;abc", "12&#x0;", "7&#000;99"}) {
        answer("<response success=\"true\"><job id=\"" + id +
               "\"/><post-address>http://127.0.0.1:1/up</post-address></response>");
        JobData job;
        std::string direct, server, error;
        EXPECT_FALSE(provider().prePostJob(job, direct, server, error)) << id;
        EXPECT_EQ(error, "The service's reply refers to character 0") << id;
        EXPECT_EQ(job.serverId(), 0) << id;
        EXPECT_EQ(server, "") << id;
    }
}

// A sign-in reply may list any number of favourites; the list the sender keeps stays bounded
// and every kept printer is found by its id.
TEST_F(HostileServiceTest, ASignInWithAHundredThousandFavouritesKeepsABoundedList) {
    constexpr int kListed = 100'000;
    std::string favourites;
    for (int i = 0; i < kListed; ++i)
        favourites +=
            "<printer online=\"1\"><public-id>p" + std::to_string(i) + "</public-id></printer>";
    answer(
        "<response success=\"true\"><token>fresh</token><user id=\"3\"/>"
        "<favorites default=\"p7\">" +
        favourites + "</favorites></response>");
    std::string error;
    ASSERT_TRUE(provider().loginWithToken(error)) << error;
    const RemotePrinterArray& printers = sender_.remotePrinters();
    ASSERT_EQ(printers.count(), RemotePrinterArray::kMaxPrinters);
    const std::string lastKept = "p" + std::to_string(RemotePrinterArray::kMaxPrinters - 1);
    const std::string firstLeftOut = "p" + std::to_string(RemotePrinterArray::kMaxPrinters);
    ASSERT_TRUE(printers.getPrinter(lastKept));
    EXPECT_TRUE(printers.getPrinter(lastKept)->online());
    EXPECT_EQ(printers.getPrinter(lastKept), printers.objectAtIndex(printers.count() - 1));
    EXPECT_EQ(printers.getPrinter("p0"), printers.objectAtIndex(0));
    EXPECT_FALSE(printers.getPrinter(firstLeftOut));
    EXPECT_FALSE(printers.getPrinter("p99999"));
    EXPECT_EQ(printers.defaultPrinterId(), "p7");
    EXPECT_TRUE(logged("The service listed more than 5000 printers; the others are left out"));
}

}  // namespace
}  // namespace velmora::test
