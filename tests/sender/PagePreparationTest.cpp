#include <gtest/gtest.h>

#include "tests/sender/SenderFixture.h"
#include "tests/support/LoopbackHttpServer.h"

namespace velmora::test {
namespace {

// Pages prepared in the spool directory and sent to a stand-in upload address, without a service.
class PagePreparationTest : public SenderFixture {
  protected:
    PagePreparationTest() : sender_(options(), systemDir()) {
        sender_.config().setToken(kToken);
        sender_.job().setPacked(true);
        sender_.job().setEncryption(0);
    }

    bool sendPages(int& pageCount, std::string& error) {
        return sender_.sendPages(1001, "", server_.url("/tdUpload.aspx?job=1001"), pageCount,
                                 error);
    }
    std::string path(const std::string& name) const { return (spoolDir() / name).string(); }

    LoopbackHttpServer server_{[](const auto&) { return LoopbackHttpServer::Reply{}; }};
    Sender sender_;
};

TEST_F(PagePreparationTest, PagesArePackedAndSentInNumericOrder) {
    const std::string page1 = writePage("1.bmp", 5000, 1);
    const std::string page2 = writePage("2.bmp", 6000, 2);
    const std::string page10 = writePage("10.BMP", 7000, 10);
    int pageCount = 0;
    std::string error;
    ASSERT_TRUE(sendPages(pageCount, error)) << error;
    EXPECT_EQ(pageCount, 3);

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string expected[] = {page1, page2, page10};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(requests[i].header("td-page"), std::to_string(i + 1) + "/3");
        EXPECT_EQ(gunzip(requests[i].body), expected[i]) << i;
    }
    // The page files stay as the converter wrote them; prepared copies sit beside them.
    EXPECT_EQ(ScratchDirectory::readFile(spoolDir() / "2.bmp"), page2);
    EXPECT_EQ(gunzip(ScratchDirectory::readFile(spoolDir() / "10.BMP.enc")), page10);
    EXPECT_FALSE(std::filesystem::exists(spoolDir() / "1.bmp.tmp"));

    for (const std::string& line :
         {std::string("processing file: 1.bmp"),
          "srcFile: " + path("1.bmp") + " encFile: " + path("1.bmp.enc") +
              " tempFile: " + path("1.bmp.tmp"),
          "copying " + path("1.bmp") + " to " + path("1.bmp.enc"), std::string("zipping..."),
          std::string("skip encryption (job.encryption is 0)"),
          std::string("page count increased to 3"),
          std::string("posting page 3 from file 10.BMP.enc"), std::string("Post to server")}) {
        EXPECT_TRUE(logged(line)) << line;
    }
}

TEST_F(PagePreparationTest, APreparedPageFromAnEarlierAttemptIsNeverOverwritten) {
    writePage("1.bmp", 100);
    writePage("2.bmp", 100);
    ScratchDirectory::writeFile(spoolDir() / "2.bmp.enc", "earlier attempt");
    int pageCount = 0;
    std::string error;
    EXPECT_FALSE(sendPages(pageCount, error));
    EXPECT_EQ(error, "Failed to copy " + path("2.bmp") + " to " + path("2.bmp.enc"));
    EXPECT_EQ(ScratchDirectory::readFile(spoolDir() / "2.bmp.enc"), "earlier attempt");
    EXPECT_TRUE(server_.requests().empty());
    bool loggedCopyFailure = false;
    for (const std::string& line : log_->messages())
        loggedCopyFailure = loggedCopyFailure || line.rfind("copy failed: ", 0) == 0;
    EXPECT_TRUE(loggedCopyFailure);
}

TEST_F(PagePreparationTest, AStrayPreparedPageStopsTheJobBeforeAnythingIsSent) {
    writePage("1.bmp", 100);
    writePage("2.bmp", 100);
    ScratchDirectory::writeFile(spoolDir() / "0.bmp.enc", "left over");
    int pageCount = 0;
    std::string error;
    EXPECT_FALSE(sendPages(pageCount, error));
    EXPECT_EQ(error, "Page number exceeds calculated count");
    EXPECT_EQ(pageCount, 2);
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(PagePreparationTest, AnEmptySpoolDirectoryOrABadUploadAddressFails) {
    int pageCount = 0;
    std::string error;
    EXPECT_FALSE(sendPages(pageCount, error));
    EXPECT_EQ(error, "No page files found in " + spoolDir().string());

    writePage("1.bmp", 100);
    for (const char* address : {"file:///etc/passwd", "", "/tdUpload.aspx"}) {
        EXPECT_FALSE(sender_.sendPages(1001, "", address, pageCount, error));
        EXPECT_EQ(error,
                  std::string("The service named no valid upload address (\"") + address + "\")");
    }
    EXPECT_FALSE(std::filesystem::exists(spoolDir() / "1.bmp.enc"));
    EXPECT_TRUE(server_.requests().empty());
}

}  // namespace
}  // namespace velmora::test
