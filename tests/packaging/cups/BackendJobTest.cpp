#include <gtest/gtest.h>

#include "packaging/cups/BackendJob.h"
#include "packaging/cups/StatusLine.h"

namespace velmora::backend {
namespace {

constexpr const char* kQueue = "Velmora_7d1c2a9e";

std::vector<std::string> senderOptions(const std::string& options, int copies = 1) {
    std::string error;
    const std::vector<std::string> arguments = {"57", "alice", "Report", std::to_string(copies),
                                                options};
    const auto job = BackendJob::parse(arguments, kQueue, error);
    EXPECT_TRUE(job.has_value()) << error;
    return job ? job->senderOptions("/spool/57-abc") : std::vector<std::string>{};
}

std::vector<std::string> withBase(std::vector<std::string> extra, int copies = 1) {
    std::vector<std::string> options = {
        "SpoolDir=/spool/57-abc", "User=alice", std::string("DestinationPrinterID=") + kQueue,
        "com.apple.print.JobInfo.PMJobName=Report",
        "com.apple.print.PrintSettings.PMCopies..n.=" + std::to_string(copies)};
    options.insert(options.end(), extra.begin(), extra.end());
    return options;
}

// What the scheduler hands over, as measured on this system, becomes the sender's options.
TEST(BackendJobTest, TheSchedulersOptionsBecomeTheSendersOptions) {
    struct Case {
        std::string options;
        int copies;
        std::vector<std::string> extra;
    };
    const std::string collate = "com.apple.print.PrintSettings.PMCopyCollate..b.=1";
    for (const Case& c : std::vector<Case>{
             {"", 1, {}},
             {"job-uuid=urn:uuid:1 Collate PageSize=Letter media=Letter",
              2,
              {"media=Letter", collate}},
             {"noCollate PageSize=A4", 3, {"media=A4"}},
             {"Collate=False InputSlot=Tray2 Duplex=DuplexTumble",
              1,
              {"InputSlot=Tray2", "Duplex=DuplexTumble"}},
             {"sides=two-sided-long-edge multiple-document-handling="
              "separate-documents-collated-copies",
              2,
              {"Duplex=DuplexNoTumble", collate}},
             {"sides=one-sided Duplex=DuplexTumble", 1, {"Duplex=DuplexTumble"}},
             {"sides=sideways", 1, {}},
         }) {
        EXPECT_EQ(senderOptions(c.options, c.copies), withBase(c.extra, c.copies)) << c.options;
    }
}

TEST(BackendJobTest, RefusesWhatIsNotAJobForOneOfOurQueues) {
    using Args = std::vector<std::string>;
    struct Case {
        Args arguments;
        std::string queue;
    };
    for (const Case& c : std::vector<Case>{
             {{"57", "alice", "t", "1"}, kQueue},
             {{"57", "alice", "t", "1", "", "file", "extra"}, kQueue},
             {{"x", "alice", "t", "1", ""}, kQueue},
             {{"57", "alice", "t", "0", ""}, kQueue},
             {{"57", "alice", "t", "-2", ""}, kQueue},
             {{"57", "alice", "t", "1", ""}, "Office"},
             {{"57", "alice", "t", "1", ""}, ""},
             {{"57", "alice", "t", "1", ""}, "Velmora_../x"},
         }) {
        std::string error;
        EXPECT_EQ(BackendJob::parse(c.arguments, c.queue, error), std::nullopt)
            << ::testing::PrintToString(c.arguments) << " " << c.queue;
        EXPECT_NE(error, "");
    }
}

TEST(StatusLineTest, AMessageNeverStartsALineOfItsOwn) {
    EXPECT_EQ(StatusLine::format("INFO", "Sending"), "INFO: Sending\n");
    EXPECT_EQ(StatusLine::format("ERROR", "a\nATTR: marker-levels=1\r\nb"),
              "ERROR: a ATTR: marker-levels=1  b\n");
}

}  // namespace
}  // namespace velmora::backend
