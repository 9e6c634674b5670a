#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/sender/SenderFixture.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ScopedEnvironment.h"

namespace velmora::test {
namespace {

std::vector<std::string> headerNames(const LoopbackHttpServer::Request& request) {
    std::vector<std::string> names;
    for (const auto& [name, value] : request.headers)
        names.push_back(name);
    return names;
}

class UploadTest : public SenderFixture {
  protected:
    UploadTest() : sender_(options(), systemDir()) {
        sender_.config().setToken(kToken);
        sender_.config().setService("https://service.example:8443/tdService.asmx");
    }

    bool upload(const std::string& name, bool direct, std::string& error, int pageNo = 2,
                int pageCount = 5) {
        return provider().uploadPage(spoolDir() / name, 1001, pageNo, pageCount,
                                     server_.url(direct ? "/post" : "/tdUpload.aspx?job=1001"),
                                     direct, error);
    }
    SenderInetProvider& provider() { return sender_.inetProvider(); }

    LoopbackHttpServer server_{[](const auto&) { return LoopbackHttpServer::Reply{}; }};
    Sender sender_;
};

TEST_F(UploadTest, APageGoesToTheServerInOneMegabyteRangesWithExactlyTheListedHeaders) {
    const std::string bytes = writePage("1.bmp.enc", 300000);
    std::string error;
    ASSERT_TRUE(upload("1.bmp.enc", false, error)) << error;
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/tdUpload.aspx?job=1001");
    EXPECT_EQ(headerNames(request),
              (std::vector<std::string>{"content-length", "content-range", "content-type", "host",
                                        "td-job", "td-page", "td-token", "user-agent"}));
    EXPECT_EQ(request.header("content-range"), "bytes 0-299999/300000");
    EXPECT_EQ(request.header("content-type"), "binary");
    EXPECT_EQ(request.header("td-job"), "1001");
    EXPECT_EQ(request.header("td-page"), "2/5");
    EXPECT_EQ(request.header("td-token"), kToken);
    EXPECT_EQ(request.header("user-agent"), "VL4MacOS 1.6.1");
    EXPECT_EQ(request.body, bytes);
    EXPECT_TRUE(logged("Upload page 2"));
    EXPECT_TRUE(logged("bytes 0-299999/300000"));

    // Larger pages are cut at 1048576 bytes.
    writePage("big.enc", 1048576 * 2 + 5);
    ASSERT_TRUE(upload("big.enc", false, error)) << error;
    const auto more = server_.requests();
    ASSERT_EQ(more.size(), 4u);
    EXPECT_EQ(more[1].header("content-range"), "bytes 0-1048575/2097157");
    EXPECT_EQ(more[2].header("content-range"), "bytes 1048576-2097151/2097157");
    EXPECT_EQ(more[3].header("content-range"), "bytes 2097152-2097156/2097157");
}

TEST_F(UploadTest, DirectUploadsUseSmallerRangesAndNeverCarryTheToken) {
    const std::string bytes = writePage("1.bmp.enc", 300000);
    std::string error;
    ASSERT_TRUE(upload("1.bmp.enc", true, error)) << error;
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 3u);
    const char* ranges[] = {"bytes 0-131070/300000", "bytes 131071-262141/300000",
                            "bytes 262142-299999/300000"};
    std::string received;
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].target, "/post");
        EXPECT_EQ(requests[i].header("content-range"), ranges[i]);
        EXPECT_EQ(requests[i].headers.count("td-token"), 0u);
        EXPECT_EQ(requests[i].header("td-page"), "2/5");
        received += requests[i].body;
    }
    EXPECT_EQ(received, bytes);

    writePage("exact.enc", 131071);
    ASSERT_TRUE(upload("exact.enc", true, error)) << error;
    ASSERT_EQ(server_.requests().size(), 4u);
    EXPECT_EQ(server_.requests()[3].header("content-range"), "bytes 0-131070/131071");
}

TEST_F(UploadTest, AnEmptyPageSendsNothingAndAMissingOneCannotBeOpened) {
    writePage("empty.enc", 0);
    std::string error;
    EXPECT_TRUE(upload("empty.enc", false, error)) << error;
    EXPECT_FALSE(upload("absent.enc", false, error));
    EXPECT_EQ(error, "Cannot open file");
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(UploadTest, AnyStatusButOkOrAConnectionFailureStopsThePage) {
    server_.setHandler([](const auto&) {
        LoopbackHttpServer::Reply reply;
        reply.status = 500;
        return reply;
    });
    writePage("1.bmp.enc", 300000);
    std::string error;
    EXPECT_FALSE(upload("1.bmp.enc", true, error));
    EXPECT_EQ(error, "Internal Server Error");
    EXPECT_EQ(server_.requests().size(), 1u);  // no range after the refused one

    error.clear();
    EXPECT_FALSE(provider().uploadPage(spoolDir() / "1.bmp.enc", 1001, 1, 1,
                                       "http://127.0.0.1:1/tdUpload.aspx", false, error));
    EXPECT_FALSE(error.empty());

    // Only the status counts: an accepting answer with a large body is still a success.
    server_.setHandler([](const auto&) {
        LoopbackHttpServer::Reply reply;
        reply.body = std::string(3 << 20, 'x');
        return reply;
    });
    error.clear();
    EXPECT_TRUE(upload("1.bmp.enc", false, error)) << error;
}

TEST_F(UploadTest, SizesAndOffsetsBeyondThirtyTwoBitsFailWithoutSendingAnything) {
    // A sparse file: large on paper, no disk space used.
    const auto path = spoolDir() / "huge.enc";
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, int64_t{1} << 31), 0);
        ::close(fd);
    }
    std::string error;
    EXPECT_FALSE(upload("huge.enc", false, error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_NE(error.find("2147483648"), std::string::npos) << error;

    EXPECT_FALSE(provider().uploadRange("x", int64_t{1} << 32, int64_t{1} << 33, 1001, 1, 1,
                                        server_.url("/post"), true, error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_FALSE(
        provider().uploadRange("xyz", 10, 11, 1001, 1, 1, server_.url("/post"), true, error));
    EXPECT_EQ(error, "The range 10-12 lies outside the page of 11 bytes");
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(UploadTest, TheProbeNamesTheJobAndTheServiceHostAndFailsOnAnyOtherAnswer) {
    std::string error;
    ASSERT_TRUE(provider().probeDirect(server_.url("/hello"), 1001, error)) << error;
    server_.setHandler([](const auto&) {
        LoopbackHttpServer::Reply reply;
        reply.status = 501;
        return reply;
    });
    EXPECT_FALSE(provider().probeDirect(server_.url("/hello"), 1001, error));
    EXPECT_EQ(error, "Not Implemented");

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/hello");
    EXPECT_EQ(
        headerNames(requests[0]),
        (std::vector<std::string>{"content-length", "host", "td-job", "td-server", "user-agent"}));
    EXPECT_EQ(requests[0].header("td-job"), "1001");
    EXPECT_EQ(requests[0].header("td-server"), "service.example");
    EXPECT_EQ(requests[0].header("content-length"), "0");

    // A console that does not answer within two seconds is given up.
    server_.setHandler([](const auto&) {
        LoopbackHttpServer::Reply reply;
        reply.delayMilliseconds = 2600;
        return reply;
    });
    EXPECT_FALSE(provider().probeDirect(server_.url("/hello"), 1001, error));
    EXPECT_NE(error.find("timed out"), std::string::npos) << error;
}

// Only the status of an upload or probe answer counts, so a peer must not hold the sender by
// never finishing the answer or by dripping it a byte at a time.
TEST_F(UploadTest, AnswersThatNeverEndOrDripCannotHoldTheSender) {
    struct Case {
        const char* what;
        int status;
        bool endless;
        int pauseMilliseconds;
        bool accepted;
        const char* error;
    };
    const Case cases[] = {
        {"endless accepting answer", 200, true, 0, true, ""},
        {"endless refusing answer", 500, true, 0, false, "Internal Server Error"},
        {"dripped accepting answer", 200, false, 100, false, "The request timed out."},
        {"answer dripped for ever", 200, true, 100, false, "The request timed out."},
    };
    InetProvider::Deadlines deadlines;
    deadlines.uploadSeconds = 1;
    provider().setDeadlines(deadlines);  // the probe keeps its two seconds
    writePage("1.bmp.enc", 1000);
    for (const Case& c : cases) {
        server_.setHandler([&](const auto&) {
            LoopbackHttpServer::Reply reply;
            reply.status = c.status;
            reply.endless = c.endless;
            reply.tricklePauseMilliseconds = c.pauseMilliseconds;
            reply.body = std::string(40, 'a');  // 4 seconds when dripped
            return reply;
        });
        for (bool direct : {false, true}) {
            std::string error;
            EXPECT_EQ(upload("1.bmp.enc", direct, error), c.accepted) << c.what << direct;
            EXPECT_EQ(error, c.error) << c.what << direct;
        }
        std::string error;
        EXPECT_EQ(provider().probeDirect(server_.url("/hello"), 1001, error), c.accepted) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
    }
}

// An accepting answer sent before the body was taken does not mean the range arrived.
TEST_F(UploadTest, AnAcceptingAnswerThatComesBeforeTheRangeWasTakenIsNoSuccess) {
    server_.setAnswerBeforeBody(true);
    server_.setHandler([](const auto&) {
        LoopbackHttpServer::Reply reply;
        reply.endless = true;
        return reply;
    });
    // Far more than the loopback socket buffers hold while nobody reads.
    std::string range(64 << 20, 'r');
    std::string error;
    EXPECT_FALSE(provider().uploadData(std::move(range), server_.url("/tdUpload.aspx"), {}, error));
    EXPECT_EQ(error, "The server answered before it had taken the whole request.");
}

// The proxy the environment names is for the service; a nearby console is on this network.
// A short accepting answer right after the head, the connection then closed: libcurl called the
// exchange complete, though nearly all of the range stayed unread. Whether the close reaches the
// sender while it still writes (a reset) or after it read the answer depends on timing.
TEST_F(UploadTest, AShortAcceptingAnswerBeforeTheRangeThenAClosedConnectionIsNoSuccess) {
    server_.setAnswerBeforeBody(true);
    server_.setHandler([](const auto&) {
        LoopbackHttpServer::Reply reply;
        reply.body = "ok";
        return reply;
    });
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::string error;
        EXPECT_FALSE(provider().uploadData(std::string(64 << 20, 'r'),
                                           server_.url("/tdUpload.aspx"), {}, error));
        EXPECT_TRUE(error == "The server answered before it had taken the whole request." ||
                    error.starts_with("Send failure"))
            << error;
    }
}

TEST_F(UploadTest, RequestsToANearbyConsoleNeverGoThroughAProxy) {
    LoopbackHttpServer proxy([](const auto&) { return LoopbackHttpServer::Reply{}; });
    ScopedEnvironment environment;
    environment.clearProxies().set("http_proxy", proxy.url());
    writePage("1.bmp.enc", 1000);
    std::string error;
    ASSERT_TRUE(provider().probeDirect(server_.url("/hello"), 1001, error)) << error;
    ASSERT_TRUE(upload("1.bmp.enc", true, error)) << error;
    EXPECT_EQ(server_.requests().size(), 2u);
    EXPECT_TRUE(proxy.requests().empty());

    ASSERT_TRUE(upload("1.bmp.enc", false, error)) << error;
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].target, server_.url("/tdUpload.aspx?job=1001"));
    EXPECT_EQ(server_.requests().size(), 2u);
}

}  // namespace
}  // namespace velmora::test
