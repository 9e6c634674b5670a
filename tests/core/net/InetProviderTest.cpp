#include "core/net/InetProvider.h"

#include <gtest/gtest.h>

#include "core/Deployment.h"
#include "core/account/Person.h"
#include "core/config/Config.h"
#include "core/net/HttpClient.h"
#include "core/net/SoapData.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ScopedEnvironment.h"

namespace velmora {
namespace {

using test::LoopbackHttpServer;
using test::ScopedEnvironment;

LoopbackHttpServer::Reply xmlReply(std::string body, int status = 200) {
    LoopbackHttpServer::Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.headers["Content-Type"] = "text/xml; charset=utf-8";
    return reply;
}

std::string envelope(const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
           "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>" +
           inner + "</soap:Body></soap:Envelope>";
}

class InetProviderTest : public ::testing::Test {
  protected:
    InetProviderTest() : config_("/nonexistent"), provider_(config_, user_) {
        config_.setService(server_.url("/tdService.asmx"));
        config_.setToken("stored-token");
    }

    void answer(std::string body, int status = 200) {
        server_.setHandler([body, status](const auto&) { return xmlReply(body, status); });
    }
    bool call(int options, std::string& error, const std::string& operation = "Login") {
        SoapData data;
        return provider_.soapRequest(operation, data.text(), config_.service(), response_, options,
                                     error);
    }

    LoopbackHttpServer server_{[](const auto&) { return xmlReply(""); }};
    Config config_;
    Person user_;
    InetProvider provider_;
    SoapResponse response_;
};

TEST_F(InetProviderTest, PostsTheEnvelopeByteForByte) {
    answer(envelope(
        "<GetServerConfigResponse><response success=\"true\"/></GetServerConfigResponse>"));
    std::string error;
    ASSERT_TRUE(call(0, error, "GetServerConfig")) << error;

    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/tdService.asmx");
    EXPECT_EQ(request.header("content-type"), "text/xml");
    EXPECT_EQ(request.header("user-agent"), "VL4MacOS 1.6.1");
    EXPECT_EQ(request.header("soapaction"), "");
    EXPECT_EQ(request.headers.count("soapaction"), 0u);
    EXPECT_EQ(request.headers.count("cookie"), 0u);
    EXPECT_EQ(request.body,
              std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
                          "xmlns:soap=\"https://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
                          "\r\n<GetServerConfig xmlns=\"") +
                  std::string(deployment::kServiceNamespace) +
                  "\"><Param><data xmlns=\"\"/></Param></GetServerConfig>\r\n</soap:Body>"
                  "</soap:Envelope>");
}

TEST_F(InetProviderTest, FailureRepliesCarryTheServiceMessageWhateverTheStatus) {
    std::string error;
    answer(
        envelope("<r><response success=\"false\"><message>Wrong password</message></response></r>"),
        500);
    EXPECT_FALSE(call(0, error));
    EXPECT_EQ(error, "Wrong password");
    EXPECT_TRUE(response_);  // handed out on failure too

    answer(envelope("<response success=\"no\"/>"));
    EXPECT_FALSE(call(0, error));
    EXPECT_EQ(error, "Service reported error");

    answer("this is not xml <<<", 502);
    EXPECT_FALSE(call(0, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(response_);  // the earlier reply is not left behind

    answer(envelope("<reply success=\"true\"/>"));
    EXPECT_FALSE(call(0, error));
    EXPECT_EQ(error, "Invalid XML in response");
}

TEST_F(InetProviderTest, SuccessIsReadLikeTheServiceWritesBooleans) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"success=\"True\"", true},   {"success=\"1\"", true},
        {"success=\"yes\"", true},    {"success=\" +001\"", true},
        {"success=\"false\"", false}, {"success=\"no\"", false},
        {"success=\"0\"", false},     {"", false},
        {"success=\"000\"", false}};
    for (const auto& [attribute, expected] : cases) {
        answer(envelope("<response " + attribute + "/>"));
        std::string error;
        EXPECT_EQ(call(0, error), expected) << attribute;
    }
}

TEST_F(InetProviderTest, TheFirstResponseFoundDepthFirstWins) {
    answer(
        envelope("<LoginResponse><LoginResult><deep><response success=\"true\"><token>t1</token>"
                 "</response></deep></LoginResult></LoginResponse><response success=\"false\"/>"));
    std::string error;
    EXPECT_TRUE(call(InetProvider::kOptionStoreToken, error)) << error;
    EXPECT_EQ(config_.token(), "t1");
}

TEST_F(InetProviderTest, LoginStoresTokenAndUserOnlyWhenPresent) {
    std::string error;
    answer(envelope("<response success=\"true\"><token></token><user id=\"5\"/></response>"));
    EXPECT_FALSE(call(3, error));
    EXPECT_EQ(error, "No token in response");
    EXPECT_EQ(config_.token(), "stored-token");

    // The token is stored before the missing user is noticed.
    answer(envelope("<response success=\"true\"><token>new-token</token></response>"));
    EXPECT_FALSE(call(3, error));
    EXPECT_EQ(error, "No user data in response");
    EXPECT_EQ(config_.token(), "new-token");

    answer(
        envelope("<response success=\"true\"><token>third</token><user id=\"42\">"
                 "<mail>ann@example.org</mail><nick>Ann</nick></user></response>"));
    EXPECT_TRUE(call(3, error)) << error;
    EXPECT_EQ(config_.token(), "third");
    EXPECT_EQ(user_.serverId(), 42);
    EXPECT_EQ(user_.mail(), "ann@example.org");
}

TEST_F(InetProviderTest, KeysAndJobStatusSendTheSessionToken) {
    server_.setHandler([](const LoopbackHttpServer::Request& request) {
        if (request.body.find("<MakeKey ") != std::string::npos) {
            return xmlReply(
                envelope("<response success=\"true\"><file-key>S2V5</file-key></response>"));
        }
        return xmlReply(envelope("<response success=\"true\"/>"));
    });
    std::string key, error;
    ASSERT_TRUE(provider_.getKey(key, 77, "p&ss", true, error)) << error;
    EXPECT_EQ(key, "S2V5");
    ASSERT_TRUE(provider_.getKey(key, 77, "", false, error)) << error;
    EXPECT_EQ(key, "");
    ASSERT_TRUE(provider_.changeJob(77, -2, error)) << error;

    auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[0].body.find("<Param><data xmlns=\"\"><token>stored-token</token><job "
                                    "id=\"77\"/><password>p&amp;ss</password></data></Param>"),
              std::string::npos)
        << requests[0].body;
    EXPECT_NE(requests[1].body.find("<GetKey "), std::string::npos);
    EXPECT_NE(requests[1].body.find("<password/>"), std::string::npos);
    EXPECT_NE(requests[2].body.find("<Param><data xmlns=\"\"><token>stored-token</token><job "
                                    "id=\"77\" new-status=\"-2\"/></data></Param>"),
              std::string::npos)
        << requests[2].body;
}

TEST_F(InetProviderTest, DownloadsNeedStatus200AndKeepTheirHeaderSet) {
    server_.setHandler([](const LoopbackHttpServer::Request& request) {
        LoopbackHttpServer::Reply reply;
        if (request.target == "/missing")
            reply.status = 404;
        if (request.target == "/slow")
            reply.delayMilliseconds = 1500;
        if (request.target == "/trickle")
            reply.tricklePauseMilliseconds = 200;
        reply.body = std::string("page\0bytes", 10);
        return reply;
    });
    std::string error;
    auto headers = provider_.dictionaryWithTDTokenHeader();
    auto body = provider_.downloadData(server_.url("/page"), &headers, error);
    ASSERT_TRUE(body) << error;
    EXPECT_EQ(*body, std::string("page\0bytes", 10));
    auto request = server_.requests().back();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.header("td-token"), "stored-token");
    EXPECT_EQ(request.header("user-agent"), "VL4MacOS 1.6.1");
    EXPECT_EQ(request.headers.count("accept"), 0u);

    EXPECT_FALSE(provider_.downloadData(server_.url("/missing"), nullptr, error));
    EXPECT_EQ(error, "Not Found");

    // The time-out counts silence, not the whole transfer: a page that keeps arriving takes
    // as long as it takes, up to the download deadline.
    body = provider_.downloadData(server_.url("/trickle"), nullptr, 0.8, error);
    ASSERT_TRUE(body) << error;
    EXPECT_EQ(*body, std::string("page\0bytes", 10));

    EXPECT_FALSE(provider_.downloadData(server_.url("/slow"), nullptr, 0.3, error));
    EXPECT_EQ(error, "The request timed out.");

    EXPECT_FALSE(provider_.downloadData("http://127.0.0.1:1/", nullptr, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(InetProviderTest, TransportFailureIsReportedNotThrown) {
    server_.setHandler([](const auto&) {
        LoopbackHttpServer::Reply reply;
        reply.dropConnection = true;
        return reply;
    });
    std::string error;
    EXPECT_FALSE(call(0, error));
    EXPECT_FALSE(error.empty());
}

// A peer can keep each request alive by dripping its answer just inside the idle time-out;
// the deadline ends it however the answer is paced.
TEST_F(InetProviderTest, AnswersThatDripOrNeverEndAreCutOffByTheDeadline) {
    InetProvider::Deadlines deadlines;
    deadlines.soapSeconds = 1;
    deadlines.downloadSeconds = 1;
    provider_.setDeadlines(deadlines);
    const std::string success = envelope("<response success=\"true\"><token>t</token></response>");
    server_.setHandler([&](const LoopbackHttpServer::Request& request) {
        LoopbackHttpServer::Reply reply = xmlReply(success);
        if (request.target == "/drip" || request.method == "POST")
            reply.tricklePauseMilliseconds = 50;  // the whole answer would take seconds
        if (request.target.starts_with("/endless"))
            reply.endless = true;
        if (request.target == "/endless-missing")
            reply.status = 404;
        return reply;
    });
    std::string error;
    EXPECT_FALSE(call(InetProvider::kOptionStoreToken, error));
    EXPECT_EQ(error, "The request timed out.");
    EXPECT_EQ(config_.token(), "stored-token");

    // The download's own time-out counts silence only; the deadline still applies.
    EXPECT_FALSE(provider_.downloadData(server_.url("/drip"), nullptr, 30, error));
    EXPECT_EQ(error, "The request timed out.");
    EXPECT_FALSE(provider_.downloadData(server_.url("/endless"), nullptr, 30, error));
    EXPECT_FALSE(error.empty());
    // Nobody reads the body of a refusal: its status is known after the first bytes.
    EXPECT_FALSE(provider_.downloadData(server_.url("/endless-missing"), nullptr, 30, error));
    EXPECT_EQ(error, "Not Found");

    // A reply that keeps within the deadline is untouched.
    server_.setHandler([&](const auto&) { return xmlReply(success); });
    EXPECT_TRUE(call(InetProvider::kOptionStoreToken, error)) << error;
    EXPECT_EQ(config_.token(), "t");
}

// Trailer lines after a chunked body are kept in memory by libcurl and move no body byte, so
// only the header bound stops a peer that sends them for ever.
TEST_F(InetProviderTest, EndlessTrailerLinesAreRefusedLongBeforeTheDeadline) {
    InetProvider::Deadlines deadlines;
    deadlines.soapSeconds = 20;
    deadlines.downloadSeconds = 20;
    provider_.setDeadlines(deadlines);
    server_.setHandler([](const auto&) {
        LoopbackHttpServer::Reply reply =
            xmlReply(envelope("<response success=\"true\"><token>t</token></response>"));
        reply.endlessTrailer = true;
        return reply;
    });
    const std::string refused = "The server sent more header lines than allowed (" +
                                std::to_string(HttpClient::kMaxHeaderBytes) + " bytes).";
    std::string error;
    EXPECT_FALSE(call(InetProvider::kOptionStoreToken, error));
    EXPECT_EQ(error, refused);
    EXPECT_EQ(config_.token(), "stored-token");
    EXPECT_FALSE(provider_.downloadData(server_.url("/page"), nullptr, 20, error));
    EXPECT_EQ(error, refused);
}

// About four bytes of "<a/>" become a node of several dozen bytes; such replies are refused
// before any node is built, and replies beyond what real ones need are not read to the end.
TEST_F(InetProviderTest, RepliesBeyondRealSizesAreRefused) {
    std::string emptyElements;
    for (int i = 0; i < 600'000; ++i)
        emptyElements += "<a/>";
    answer(envelope("<response success=\"true\">" + emptyElements + "</response>"));
    std::string error;
    EXPECT_FALSE(call(0, error));
    EXPECT_EQ(error, "The service's reply holds too many elements");
    EXPECT_FALSE(response_);

    answer(envelope("<response success=\"true\"><message>" + std::string(17 << 20, 'm') +
                    "</message></response>"));
    EXPECT_FALSE(call(0, error));
    EXPECT_EQ(error, "The server sent more data than allowed (16777216 bytes).");

    // A large but plausible reply: thousands of printers with their papers.
    std::string printers;
    for (int i = 0; i < 3000; ++i) {
        printers += "<printer online=\"true\"><public-id>p" + std::to_string(i) +
                    "</public-id><details><paper-formats default=\"A4\">";
        for (int paper = 0; paper < 20; ++paper)
            printers += "<paper name=\"A4\" format=\"A4\" width=\"2100\" height=\"2970\"/>";
        printers += "</paper-formats></details></printer>";
    }
    answer(
        envelope("<response success=\"true\"><favorites>" + printers + "</favorites></response>"));
    EXPECT_TRUE(call(0, error)) << error;
}

// libcurl takes the proxy from the environment, as a desktop user behind one expects.
TEST_F(InetProviderTest, ServiceRequestsGoThroughTheProxyTheEnvironmentNames) {
    LoopbackHttpServer proxy([](const LoopbackHttpServer::Request& request) {
        if (request.target.ends_with("/page"))
            return xmlReply("page bytes");
        return xmlReply(envelope("<response success=\"true\"><token>via-proxy</token></response>"));
    });
    ScopedEnvironment environment;
    environment.clearProxies().set("http_proxy", proxy.url());
    config_.setService("http://service.invalid/tdService.asmx");
    std::string error;
    ASSERT_TRUE(call(InetProvider::kOptionStoreToken, error)) << error;
    EXPECT_EQ(config_.token(), "via-proxy");
    auto page = provider_.downloadData("http://service.invalid/jobs/1/page", nullptr, error);
    ASSERT_TRUE(page) << error;
    EXPECT_EQ(*page, "page bytes");
    const auto viaProxy = proxy.requests();
    ASSERT_EQ(viaProxy.size(), 2u);
    EXPECT_EQ(viaProxy[0].target, "http://service.invalid/tdService.asmx");
    EXPECT_EQ(viaProxy[1].target, "http://service.invalid/jobs/1/page");

    // Hosts the environment exempts are reached directly.
    environment.set("no_proxy", "127.0.0.1");
    config_.setService(server_.url("/tdService.asmx"));
    answer(envelope("<response success=\"true\"/>"));
    EXPECT_TRUE(call(0, error)) << error;
    EXPECT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(proxy.requests().size(), 2u);
}

// A proxy that refuses the tunnel with a body that never ends keeps libcurl reading inside a
// single step of the transfer, where the loop that watches the deadline never runs.
TEST_F(InetProviderTest, AProxyStreamingItsRefusalOfATunnelIsCutOffByTheDeadline) {
    LoopbackHttpServer proxy([](const auto&) {
        LoopbackHttpServer::Reply reply;
        reply.status = 407;
        reply.headers["Content-Length"] = "999999999999";
        reply.endless = true;
        return reply;
    });
    ScopedEnvironment environment;
    environment.clearProxies().set("https_proxy", proxy.url());
    config_.setService("https://service.invalid/tdService.asmx");
    InetProvider::Deadlines deadlines;
    deadlines.soapSeconds = 1;
    provider_.setDeadlines(deadlines);
    std::string error;
    EXPECT_FALSE(call(InetProvider::kOptionStoreToken, error));
    EXPECT_EQ(error, "The request timed out.");
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].method, "CONNECT");
    EXPECT_EQ(config_.token(), "stored-token");
}

TEST(InetProviderVersion, NumbersTwoOrThreeParts) {
    EXPECT_EQ(InetProvider::getIntVersion(), 1601);
    EXPECT_EQ(InetProvider::intVersionOf("2.0"), 2000);
    EXPECT_EQ(InetProvider::intVersionOf("1.7.12"), 1712);
    EXPECT_EQ(InetProvider::intVersionOf("1"), -1);
    EXPECT_EQ(InetProvider::intVersionOf("1.2.3.4"), -1);
}

}  // namespace
}  // namespace velmora
