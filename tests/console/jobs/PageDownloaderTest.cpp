#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "console/jobs/PageDownloader.h"
#include "core/net/InetProvider.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::LoopbackHttpServer;
using test::ScratchDirectory;

LoopbackHttpServer::Reply answer(int status, std::string body) {
    LoopbackHttpServer::Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

// Page downloads against a loopback server that answers as told, hostile answers included.
class PageDownloaderTest : public ::testing::Test {
  protected:
    PageDownloader::Outcome fetch(const LoopbackHttpServer::Reply& reply,
                                  PageDownloader::Limits limits = {}) {
        server_.setHandler([reply](const LoopbackHttpServer::Request&) { return reply; });
        PageDownloader downloader(&cancelled_);
        downloader.setLimits(limits);
        error_.clear();
        return downloader.download(server_.url("/getPage.aspx?job=7&page=1"),
                                   {{"TD-Token", "tok-bob"}}, partial(), target(), error_);
    }
    fs::path partial() const { return scratch_.path() / "1.emf.enc.tmp"; }
    fs::path target() const { return scratch_.path() / "1.emf.enc"; }
    bool leftNothing() const { return !fs::exists(partial()) && !fs::exists(target()); }

    ScratchDirectory scratch_{"velmora-download"};
    LoopbackHttpServer server_{
        [](const LoopbackHttpServer::Request&) { return LoopbackHttpServer::Reply{}; }};
    std::atomic<bool> cancelled_{false};
    std::string error_;
};

TEST_F(PageDownloaderTest, StreamsThePageUnderItsFinalNameWithExactlyTheSessionHeaders) {
    const std::string page(3 << 20, 'p');
    ASSERT_EQ(fetch(answer(200, page)), PageDownloader::Outcome::kDone) << error_;
    EXPECT_EQ(ScratchDirectory::readFile(target()), page);
    EXPECT_FALSE(fs::exists(partial()));
    const auto request = server_.requests().back();
    EXPECT_EQ(request.header("td-token"), "tok-bob");
    EXPECT_EQ(request.header("user-agent"), InetProvider::userAgent());
    EXPECT_EQ(request.header("accept"), "");
}

TEST_F(PageDownloaderTest, FailedTransfersLeaveNoFileUnderEitherName) {
    struct Case {
        const char* name;
        LoopbackHttpServer::Reply reply;
        PageDownloader::Limits limits;
        std::string error;
    };
    LoopbackHttpServer::Reply silent = answer(200, "late");
    silent.delayMilliseconds = 2500;
    LoopbackHttpServer::Reply dropped;
    dropped.dropConnection = true;
    const std::vector<Case> cases = {
        {"refused", answer(404, "gone"), {}, "Not Found"},
        {"server error", answer(500, "oops"), {}, "Internal Server Error"},
        {"larger than the bound", answer(200, std::string(5000, 'x')), {4096, 10}, ""},
        {"silent for too long", silent, {1 << 20, 1}, "The request timed out."},
        {"connection dropped", dropped, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fetch(c.reply, c.limits), PageDownloader::Outcome::kTransferFailed);
        if (!c.error.empty()) {
            EXPECT_EQ(error_, c.error);
        }
        EXPECT_FALSE(error_.empty());
        EXPECT_TRUE(leftNothing());
    }
}

TEST_F(PageDownloaderTest, ASlowButSteadyPageCompletes) {
    LoopbackHttpServer::Reply drip = answer(200, std::string(30, 'd'));
    drip.tricklePauseMilliseconds = 60;  // 1.8 s in all, never a second of silence
    ASSERT_EQ(fetch(drip, {1 << 20, 1}), PageDownloader::Outcome::kDone) << error_;
    EXPECT_EQ(ScratchDirectory::readFile(target()), std::string(30, 'd'));
}

TEST_F(PageDownloaderTest, ADripThatNeverFallsSilentStillEndsAtTheOverallDeadline) {
    LoopbackHttpServer::Reply drip = answer(200, std::string(100, 'd'));
    drip.tricklePauseMilliseconds = 60;  // 6 s in all, never a second of silence
    EXPECT_EQ(fetch(drip, {1 << 20, 1, 1}), PageDownloader::Outcome::kTransferFailed);
    EXPECT_EQ(error_, "The request timed out.");
    EXPECT_TRUE(leftNothing());
}

TEST_F(PageDownloaderTest, ALinkAtTheTemporaryNameIsReplacedNotFollowed) {
    const fs::path victim = scratch_.path() / "victim";
    ScratchDirectory::writeFile(victim, "keep me");
    fs::create_symlink(victim, partial());
    ASSERT_EQ(fetch(answer(200, "page")), PageDownloader::Outcome::kDone) << error_;
    EXPECT_EQ(ScratchDirectory::readFile(victim), "keep me");
    EXPECT_EQ(ScratchDirectory::readFile(target()), "page");
}

TEST_F(PageDownloaderTest, AnUnwritableFolderIsAFileFailureAndHeadersCannotBeSmuggled) {
    PageDownloader downloader;
    std::string error;
    EXPECT_EQ(downloader.download(server_.url("/p"), {}, scratch_.path() / "missing" / "p.tmp",
                                  scratch_.path() / "missing" / "p", error),
              PageDownloader::Outcome::kFileFailed);
    const size_t before = server_.requests().size();
    EXPECT_EQ(downloader.download(server_.url("/p"), {{"TD-Token", "a\r\nX-Evil: 1"}}, partial(),
                                  target(), error),
              PageDownloader::Outcome::kTransferFailed);
    EXPECT_EQ(server_.requests().size(), before);
    EXPECT_TRUE(leftNothing());
}

TEST_F(PageDownloaderTest, ACancelledDownloadStopsAndLeavesNothing) {
    LoopbackHttpServer::Reply drip = answer(200, std::string(200, 'd'));
    drip.tricklePauseMilliseconds = 50;
    cancelled_ = true;
    EXPECT_EQ(fetch(drip), PageDownloader::Outcome::kTransferFailed);
    EXPECT_TRUE(leftNothing());
}

}  // namespace
}  // namespace velmora::console
