#include "tests/console/jobs/DirectServerFixture.h"

#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <thread>
#include <vector>

namespace velmora::console {
namespace {

using namespace std::chrono_literals;
using test::DirectClient;

// Clients that do what a careless or hostile computer on the network might. The idle limit is
// short here so that a stalled client is dropped within the test.
class HostileClientTest : public DirectServerFixture {
  protected:
    HTTPServer::Limits limits() const override {
        HTTPServer::Limits limits;
        limits.connection.idleTimeout = 1500ms;
        return limits;
    }

    static std::string chunked(const std::string& body, size_t pieceSize) {
        std::string encoded;
        for (size_t at = 0; at < body.size(); at += pieceSize) {
            const std::string piece = body.substr(at, pieceSize);
            char size[32];
            std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
            encoded += size + piece + "\r\n";
        }
        return encoded + "0\r\n\r\n";
    }
    static std::string chunkedPost(int job, const std::string& page, const std::string& range,
                                   const std::string& body) {
        return "POST /post HTTP/1.1\r\nHost: x\r\nTD-Job: " + std::to_string(job) +
               "\r\nTD-Page: " + page + "\r\nContent-Range: " + range +
               "\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked(body, 1000);
    }
    bool helloAnswers() {
        return exchange(DirectClient::request("GET", "/hello", "", "")).status == 501;
    }
    // A request whose 501 page is far larger than a socket takes at once: every quote of the
    // host name grows sixfold when the page escapes it.
    static std::string requestWithHugeAnswer() {
        return "GET /elsewhere HTTP/1.1\r\nHost: " + std::string(kHugeAnswerQuotes, '"') +
               "\r\n\r\n";
    }
    static constexpr size_t kHugeAnswerQuotes = 15000;
};

TEST_F(HostileClientTest, OversizedHeadIsAnswered431) {
    const std::string head =
        "GET /hello HTTP/1.1\r\nX-Filler: " + std::string(17 * 1024, 'a') + "\r\n\r\n";
    EXPECT_EQ(exchange(head).status, 431);
    EXPECT_TRUE(helloAnswers());
}

TEST_F(HostileClientTest, HeadLimitCountsTheRequestLine) {
    // The request line alone is longer than the slack a limit on the fields alone would give.
    const std::string requestLine = "GET /hello?" + std::string(200, 'q') + " HTTP/1.1\r\n";
    for (const auto& [size, answer] : {std::pair{16383, 501}, {16384, 501}, {16385, 431}}) {
        SCOPED_TRACE(size);
        const std::string field = "X-Filler: ";
        const std::string head = requestLine + field +
                                 std::string(size - requestLine.size() - field.size() - 4, 'a') +
                                 "\r\n\r\n";
        ASSERT_EQ(head.size(), static_cast<size_t>(size));
        EXPECT_EQ(exchange(head).status, answer);
    }
}

TEST_F(HostileClientTest, OversizedBodiesAreRefusedBeforeTheyAreSent) {
    const int job = openJob();
    struct Oversized {
        std::string name;
        std::string head;
    };
    const std::vector<Oversized> cases = {
        {"NewJob", "POST /newjob HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n"},
        {"UnknownPath", "POST /other HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n"},
        {"PostWithoutRange", "POST /post HTTP/1.1\r\nTD-Job: " + std::to_string(job) +
                                 "\r\nTD-Page: 1/1\r\nContent-Length: 67108865\r\n\r\n"},
    };
    for (const Oversized& oversized : cases) {
        SCOPED_TRACE(oversized.name);
        // Only the head is sent: the answer must not wait for the body.
        EXPECT_EQ(exchange(oversized.head).status, 413);
    }
    EXPECT_FALSE(std::filesystem::exists(pageFile(job, 1)));
}

TEST_F(HostileClientTest, ChunkedBodyBeyondTheLimitIsCutOff) {
    const std::string body = "<data>" + std::string(1100 * 1024, ' ') + "</data>";
    const std::string request =
        "POST /newjob HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked(body, 64 * 1024);
    EXPECT_EQ(exchange(request).status, 413);
    EXPECT_EQ(jobs_.count(), 0u);
}

TEST_F(HostileClientTest, ChunkedRangesAreStoredAsDecoded) {
    const int job = openJob();
    EXPECT_EQ(exchange(chunkedPost(job, "1/1", "bytes 0-4999/8000", pattern(5000))).status, 200);
    EXPECT_EQ(exchange(chunkedPost(job, "1/1", "bytes 5000-7999/8000", pattern(3000, 5000))).status,
              200);
    EXPECT_EQ(status(job), Job::kReady);
    EXPECT_EQ(stored(job, 1), pattern(8000));
}

TEST_F(HostileClientTest, ChunkedBodyLongerThanItsRangeLeavesTheFileAsItWas) {
    const int job = openJob();
    EXPECT_EQ(post(job, "1/1", "bytes 0-99/300", pattern(100)).status, 200);
    EXPECT_EQ(exchange(chunkedPost(job, "1/1", "bytes 100-199/300", pattern(150, 100))).status,
              500);
    EXPECT_EQ(stored(job, 1), pattern(100));
}

TEST_F(HostileClientTest, BodyInACodingOtherThanChunkedIsRefused) {
    const int job = openJob();
    const std::string request = "POST /post HTTP/1.1\r\nTD-Job: " + std::to_string(job) +
                                "\r\nTD-Page: 1/1\r\nTransfer-Encoding: gzip\r\n\r\n" +
                                pattern(100);
    EXPECT_EQ(exchange(request).status, 400);
    EXPECT_FALSE(std::filesystem::exists(pageFile(job, 1)));
    EXPECT_EQ(status(job), Job::kUploading);
}

TEST_F(HostileClientTest, BodyThatStopsEarlyLeavesNothingOfItsRange) {
    const int job = openJob();
    const uint16_t port = port_;
    auto cutShort = [port](const std::string& request, size_t keep) {
        DirectClient client(port);
        client.send(request.substr(0, request.size() - keep));
        std::this_thread::sleep_for(200ms);
    };
    // A first range that stops: the new file goes again, so the range may be sent again.
    pump([&] { cutShort(postRequest(job, "1/1", "bytes 0-999/2000", pattern(1000)), 400); });
    serveFor(100ms);
    EXPECT_FALSE(std::filesystem::exists(pageFile(job, 1)));
    EXPECT_EQ(post(job, "1/1", "bytes 0-999/2000", pattern(1000)).status, 200);
    // A later range that stops: the file is cut back to where the range began.
    pump([&] {
        cutShort(postRequest(job, "1/1", "bytes 1000-1999/2000", pattern(1000, 1000)), 10);
    });
    serveFor(100ms);
    EXPECT_EQ(stored(job, 1), pattern(1000));
    EXPECT_EQ(post(job, "1/1", "bytes 1000-1999/2000", pattern(1000, 1000)).status, 200);
    EXPECT_EQ(stored(job, 1), pattern(2000));
    EXPECT_EQ(status(job), Job::kReady);
}

TEST_F(HostileClientTest, FailedWriteIsAnswered500AndCutBack) {
    const int job = openJob();
    ASSERT_EQ(post(job, "1/1", "bytes 0-99/300", pattern(100)).status, 200);
    // Files of this process may not grow past 150 bytes: the next range fails half way.
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 150;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto reply = post(job, "1/1", "bytes 100-199/300", pattern(100, 100));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(stored(job, 1), pattern(100));
    EXPECT_EQ(post(job, "1/1", "bytes 100-299/300", pattern(200, 100)).status, 200);
    EXPECT_EQ(stored(job, 1), pattern(300));
}

TEST_F(HostileClientTest, TricklingClientDoesNotHoldUpTheOthers) {
    const int jobA = openJob();
    const int jobB = openJob();
    const uint16_t port = port_;
    std::atomic<bool> uploadsDone{false};
    std::atomic<bool> trickleDoneFirst{false};
    const std::string slow = DirectClient::request("GET", "/printers", "", "");
    const std::string pageA = pattern(3 * 1024 * 1024);
    const std::string pageB = pattern(2 * 1024 * 1024, 5);
    const auto replies = pump([&] {
        std::thread trickler([&] {
            DirectClient client(port);
            // One byte a second, never stopping long enough to be idle.
            client.trickle(slow.substr(0, 5), 1000ms);
            trickleDoneFirst = !uploadsDone;
        });
        std::vector<int> statuses;
        for (const auto& [job, page] : {std::pair{jobA, &pageA}, std::pair{jobB, &pageB}}) {
            for (size_t at = 0; at < page->size(); at += 131071) {
                const std::string piece = page->substr(at, 131071);
                const std::string range = "bytes " + std::to_string(at) + "-" +
                                          std::to_string(at + piece.size() - 1) + "/" +
                                          std::to_string(page->size());
                DirectClient client(port);
                client.send(postRequest(job, "1/1", range, piece));
                statuses.push_back(client.receive().status);
            }
        }
        uploadsDone = true;
        trickler.join();
        return statuses;
    });
    EXPECT_FALSE(trickleDoneFirst);
    EXPECT_EQ(std::count(replies.begin(), replies.end(), 200), static_cast<long>(replies.size()));
    EXPECT_EQ(stored(jobA, 1), pageA);
    EXPECT_EQ(stored(jobB, 1), pageB);
}

TEST_F(HostileClientTest, SixtyFourTricklersLoseTheirSlotsToAnUpload) {
    const int job = openJob();
    const uint16_t port = port_;
    const std::string page = pattern(200 * 1024);
    std::atomic<bool> stop{false};
    std::atomic<int> connected{0};
    const auto [firstStatus, laterStatus] = pump([&] {
        std::vector<std::thread> tricklers;
        for (int i = 0; i < 64; ++i) {
            tricklers.emplace_back([&] {
                DirectClient client(port);
                // The head is whole, so the request holds a slot; its body then comes one
                // byte a second: never idle for as long as the limit, never done.
                const std::string body = "<data>" + std::string(100, ' ') + "</data>";
                const std::string request = DirectClient::request("POST", "/newjob", "", body);
                const size_t head = request.size() - body.size();
                client.send(request.substr(0, head));
                ++connected;
                for (size_t at = head; at < request.size() && !stop; ++at) {
                    if (!client.send(request.substr(at, 1)))
                        return;
                    std::this_thread::sleep_for(1000ms);
                }
            });
        }
        // Every trickler's head is in before the upload's, so the upload is the 65th request.
        for (int wait = 0; wait < 500 && connected < 64; ++wait)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(300ms);
        const std::string upload = postRequest(job, "1/1", std::nullopt, page);
        auto send = [&] {
            DirectClient client(port);
            client.send(upload);
            return client.receive(3s).status;
        };
        const int first = send();
        int later = first;
        for (int attempt = 0; attempt < 40 && later != 200; ++attempt) {
            std::this_thread::sleep_for(250ms);
            later = send();
        }
        stop = true;
        for (std::thread& trickler : tricklers)
            trickler.join();
        return std::pair{first, later};
    });
    EXPECT_EQ(firstStatus, 503);
    EXPECT_EQ(laterStatus, 200);
    EXPECT_EQ(stored(job, 1), page);
}

TEST_F(HostileClientTest, StalledClientIsAnswered408AndDropped) {
    const int job = openJob();
    ASSERT_EQ(post(job, "1/1", "bytes 0-99/300", pattern(100)).status, 200);
    const std::string range = postRequest(job, "1/1", "bytes 100-299/300", pattern(200, 100));
    const std::vector<std::pair<std::string, std::string>> stalled = {
        {"NewJobBody", "POST /newjob HTTP/1.1\r\nContent-Length: 100\r\n\r\n<data>"},
        {"PostRange", range.substr(0, range.size() - 150)},
        {"Head", "GET /printers HTTP/1.1\r\nHo"},
    };
    for (const auto& [name, bytes] : stalled) {
        SCOPED_TRACE(name);
        const uint16_t port = port_;
        const auto reply = pump([port, bytes] {
            DirectClient client(port);
            client.send(bytes);
            return client.receive(10s);
        });
        EXPECT_EQ(reply.status, 408);
        serveFor(100ms);
        EXPECT_EQ(server_->connectionCount(), 0u);
        // The stalled range's part was taken back; the page goes on where it was.
        EXPECT_EQ(stored(job, 1), pattern(100));
    }
}

TEST_F(HostileClientTest, SixtyFifthRequestIsAnswered503AndTheSlotComesBack) {
    const uint16_t port = port_;
    std::vector<std::unique_ptr<DirectClient>> busy;
    pump([&] {
        for (int i = 0; i < 64; ++i) {
            busy.push_back(std::make_unique<DirectClient>(port));
            busy.back()->send("POST /newjob HTTP/1.1\r\nContent-Length: 100\r\n\r\n<data>");
        }
        // Every head has reached the server once the 65th request is turned away.
        std::this_thread::sleep_for(300ms);
    });
    EXPECT_EQ(server_->connectionCount(), 64u);
    EXPECT_EQ(exchange(DirectClient::request("GET", "/hello", "", "")).status, 503);
    busy.pop_back();
    serveFor(200ms);
    EXPECT_TRUE(helloAnswers());
}

TEST_F(HostileClientTest, IdleConnectionsBeyondTheRequestLimitDoNotLockOutAnyone) {
    // With the console's idle limit: none of them times out while the others connect.
    startServer(HTTPServer::Limits());
    const uint16_t port = port_;
    std::vector<std::unique_ptr<DirectClient>> idle;
    pump([&] {
        for (int i = 0; i < 200; ++i)
            idle.push_back(std::make_unique<DirectClient>(port));
        std::this_thread::sleep_for(300ms);
    });
    EXPECT_EQ(server_->connectionCount(), 200u);
    EXPECT_NE(openJob(), 0);
    EXPECT_EQ(exchange(DirectClient::request("GET", "/printers", "", "")).status, 200);
    // Nobody was dropped to make room for those requests.
    EXPECT_EQ(server_->connectionCount(), 200u);
}

TEST_F(HostileClientTest, WhenTooManyWaitTheLongestSilentIsClosed) {
    HTTPServer::Limits few = limits();
    few.maxWaitingConnections = 3;
    startServer(few);
    const uint16_t port = port_;
    const auto [status, closed] = pump([port] {
        std::vector<std::unique_ptr<DirectClient>> waiting;
        auto connect = [&] {
            waiting.push_back(std::make_unique<DirectClient>(port));
            std::this_thread::sleep_for(50ms);
        };
        for (int i = 0; i < 3; ++i)
            connect();
        // A few bytes of a head are no sign of life: the first is still the longest silent.
        waiting.front()->send("GET /hel");
        std::this_thread::sleep_for(50ms);
        DirectClient request(port);
        request.send(DirectClient::request("GET", "/hello", "", ""));
        const int answer = request.receive().status;
        // The request is over, so the fourth fits and the fifth pushes the second out.
        connect();
        connect();
        std::vector<bool> closedNow;
        for (const auto& client : waiting)
            closedNow.push_back(client->closedWithin(100ms));
        return std::pair{answer, closedNow};
    });
    EXPECT_EQ(status, 501);
    EXPECT_EQ(closed, (std::vector<bool>{true, true, false, false, false}));
}

TEST_F(HostileClientTest, ServerAcceptsAgainAfterRunningOutOfDescriptors) {
    size_t open = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++open;
    rlimit previous{};
    ::getrlimit(RLIMIT_NOFILE, &previous);
    rlimit tight = previous;
    tight.rlim_cur = open + 4;
    std::vector<std::unique_ptr<DirectClient>> clients;
    ::setrlimit(RLIMIT_NOFILE, &tight);
    // The clients take every descriptor left before the server accepts any of them.
    while (clients.size() < 8) {
        auto client = std::make_unique<DirectClient>(port_);
        if (!client->connected())
            break;
        clients.push_back(std::move(client));
    }
    serveFor(300ms);
    clients.clear();
    ::setrlimit(RLIMIT_NOFILE, &previous);
    EXPECT_TRUE(helloAnswers());
}

TEST_F(HostileClientTest, AbsoluteFormTargetReachesItsHandler) {
    const auto reply = exchange("GET http://127.0.0.1/printers HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find(publicId("Shared_Queue")), std::string::npos);
}

TEST_F(HostileClientTest, BytesThatAreNotHttpCloseTheConnectionWithoutAnswer) {
    const auto reply =
        exchange(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + "\r\n\r\n");
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.raw, "");
    EXPECT_TRUE(helloAnswers());
}

TEST_F(HostileClientTest, TwoConnectionsNeverWriteOnePageAtOnce) {
    const int job = openJob();
    const uint16_t port = port_;
    const std::string first = postRequest(job, "1/1", "bytes 0-999/1000", pattern(1000));
    const auto [secondStatus, firstStatus] = pump([&] {
        DirectClient slow(port);
        slow.send(first.substr(0, first.size() - 500));
        std::this_thread::sleep_for(200ms);
        DirectClient other(port);
        other.send(postRequest(job, "1/1", "bytes 0-999/1000", std::string(1000, 'x')));
        const int otherStatus = other.receive().status;
        slow.send(first.substr(first.size() - 500));
        return std::pair{otherStatus, slow.receive().status};
    });
    EXPECT_EQ(secondStatus, 500);
    EXPECT_EQ(firstStatus, 200);
    EXPECT_EQ(stored(job, 1), pattern(1000));
}

TEST_F(HostileClientTest, JobDroppedWhileItsRangeArrivesKeepsNothing) {
    const int job = openJob();
    const uint16_t port = port_;
    const std::string request = postRequest(job, "1/1", "bytes 0-999/1000", pattern(1000));
    const std::filesystem::path file = pageFile(job, 1);
    std::atomic<bool> halfSent{false};
    std::atomic<bool> dropped{false};
    auto client = std::async(std::launch::async, [&] {
        DirectClient sender(port);
        sender.send(request.substr(0, request.size() - 100));
        halfSent = true;
        while (!dropped)
            std::this_thread::sleep_for(10ms);
        sender.send(request.substr(request.size() - 100));
        return sender.receive().status;
    });
    while (!halfSent)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    serveFor(100ms);
    jobs_.removeAllObjects();
    dropped = true;
    while (client.wait_for(0s) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(client.get(), 500);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(HostileClientTest, RangeUnderWayForAJobGivenUpNeverReachesANewJob) {
    // The range must not time out on its own while the new job is opened and written.
    startServer(HTTPServer::Limits());
    auto now = std::chrono::steady_clock::now();
    jobs_.setClock([&now] { return now; });
    std::vector<int> ids;
    for (int i = 0; i < JobArray::kMaxUploadingDirectJobs; ++i)
        ids.push_back(openJob());
    const uint16_t port = port_;
    const std::string slow = postRequest(ids[0], "1/2", "bytes 0-999/1000", pattern(1000));
    DirectClient stalled(port);
    pump([&] {
        stalled.send(slow.substr(0, slow.size() - 500));
        std::this_thread::sleep_for(200ms);
    });
    now += JobArray::kStalledDirectJobAge;
    const int fresh = openJob();
    ASSERT_NE(fresh, 0);
    EXPECT_EQ(jobs_.getPtpJob(ids[0]), nullptr);
    EXPECT_EQ(post(fresh, "1/2", "bytes 0-999/1000", std::string(1000, 'n')).status, 200);
    const int late = pump([&] {
        stalled.send(slow.substr(slow.size() - 500));
        return stalled.receive().status;
    });
    EXPECT_EQ(late, 500);
    EXPECT_EQ(stored(fresh, 1), std::string(1000, 'n'));
    EXPECT_EQ(status(fresh), Job::kUploading);
    EXPECT_FALSE(std::filesystem::exists(pageFile(ids[0], 1).parent_path()));
}

TEST_F(HostileClientTest, PlantedLinkIsNeverWrittenThrough) {
    const int job = openJob();
    const std::filesystem::path outside = profile_.path() / "outside.txt";
    test::ScratchDirectory::writeFile(outside, "keep");
    std::filesystem::create_directories(pageFile(job, 1).parent_path());
    std::filesystem::create_symlink(outside, pageFile(job, 1));
    EXPECT_EQ(post(job, "1/1", std::nullopt, pattern(10)).status, 500);
    EXPECT_EQ(test::ScratchDirectory::readFile(outside), "keep");
}

TEST_F(HostileClientTest, PipelinedSecondRequestIsIgnored) {
    const int job = openJob();
    const std::string twice = DirectClient::request("GET", "/hello", "", "") +
                              postRequest(job, "1/1", std::nullopt, pattern(10));
    const auto reply = exchange(twice);
    EXPECT_EQ(reply.status, 501);
    EXPECT_EQ(reply.raw.find("HTTP/1.1", 5), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(pageFile(job, 1)));
}

TEST_F(HostileClientTest, ExpectContinueGetsTheGoAheadOnlyForAnAcceptedRange) {
    const int job = openJob();
    const uint16_t port = port_;
    auto headOnly = [port](std::string head) {
        DirectClient client(port);
        client.send(head);
        return client.receive(1s).raw;
    };
    const std::string accepted = "POST /post HTTP/1.1\r\nTD-Job: " + std::to_string(job) +
                                 "\r\nTD-Page: 1/1\r\nExpect: 100-continue\r\n"
                                 "Content-Length: 10\r\n\r\n";
    const std::string refused =
        "POST /post HTTP/1.1\r\nTD-Job: 999\r\nTD-Page: 1/1\r\n"
        "Expect: 100-continue\r\nContent-Length: 10\r\n\r\n";
    EXPECT_TRUE(pump([&] { return headOnly(accepted); }).starts_with("HTTP/1.1 100 Continue"));
    EXPECT_TRUE(pump([&] { return headOnly(refused); }).starts_with("HTTP/1.1 500"));
}

TEST_F(HostileClientTest, ResetAtAnyPointLeavesNothingAndKeepsServing) {
    const int job = openJob();
    const std::string range = postRequest(job, "1/1", "bytes 0-999/1000", pattern(1000));
    const std::string continueHead = "POST /post HTTP/1.1\r\nTD-Job: " + std::to_string(job) +
                                     "\r\nTD-Page: 1/1\r\nContent-Range: bytes 0-999/1000\r\n"
                                     "Expect: 100-continue\r\nContent-Length: 1000\r\n\r\n";
    struct Reset {
        std::string name;
        std::string sent;
        // Read the go-ahead before resetting.
        bool awaitContinue = false;
    };
    const std::vector<Reset> resets = {
        {"MidHead", range.substr(0, 30)},
        {"MidBody", range.substr(0, range.size() - 300)},
        {"AfterContinue", continueHead, true},
        {"AfterContinueMidBody", continueHead + pattern(500), true},
        {"WhileTheAnswerIsWritten", requestWithHugeAnswer()},
    };
    const uint16_t port = port_;
    for (const Reset& reset : resets) {
        SCOPED_TRACE(reset.name);
        pump([&] {
            DirectClient client(port, 4096);
            client.send(reset.sent);
            if (reset.awaitContinue)
                client.receive(300ms);
            std::this_thread::sleep_for(200ms);
            client.reset();
        });
        serveFor(100ms);
        EXPECT_FALSE(std::filesystem::exists(pageFile(job, 1)));
        EXPECT_EQ(server_->connectionCount(), 0u);
    }
    EXPECT_TRUE(helloAnswers());
    EXPECT_EQ(post(job, "1/1", "bytes 0-999/1000", pattern(1000)).status, 200);
    EXPECT_EQ(stored(job, 1), pattern(1000));
}

TEST_F(HostileClientTest, AnsweredConnectionsThatLingerDoNotLockOutNewClients) {
    HTTPServer::Limits few = limits();
    few.maxConnections = 2;
    few.maxWaitingConnections = 3;
    startServer(few);
    const size_t cap = few.maxWaitingConnections + 2 * few.maxConnections;
    const uint16_t port = port_;
    std::vector<std::unique_ptr<DirectClient>> lingering;
    pump([&] {
        for (size_t i = 0; i < cap; ++i) {
            lingering.push_back(std::make_unique<DirectClient>(port));
            // A byte past the request: the server, having answered, waits for the client to
            // finish sending before it closes.
            lingering.back()->send(DirectClient::request("GET", "/hello", "", "") + "X");
            // Answered before the next connects, so none is closed as a silent one.
            std::this_thread::sleep_for(20ms);
        }
        std::this_thread::sleep_for(200ms);
    });
    ASSERT_EQ(server_->connectionCount(), cap);
    EXPECT_TRUE(helloAnswers());
    EXPECT_LE(server_->connectionCount(), cap);
}

TEST_F(HostileClientTest, ChunkedLineThatNeverEndsIsCutOff) {
    // Between pieces of a chunked body the server waits for whole lines; these never end.
    const std::vector<std::pair<std::string, std::string>> endless = {
        {"ChunkSizeExtension", "10;x="},
        {"Trailer", "0\r\nX-Trailer: "},
    };
    const uint16_t port = port_;
    for (const auto& [name, start] : endless) {
        SCOPED_TRACE(name);
        const size_t sent = pump([port, start] {
            DirectClient client(port);
            client.send("POST /newjob HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + start);
            const std::string filler(64 * 1024, 'a');
            size_t total = 0;
            for (int i = 0; i < 768 && client.send(filler); ++i)
                total += filler.size();
            return total;
        });
        // Far less than was offered: what the sockets' buffers took after the server stopped.
        EXPECT_LT(sent, size_t{16} << 20);
    }
    EXPECT_TRUE(helloAnswers());
}

}  // namespace
}  // namespace velmora::console
