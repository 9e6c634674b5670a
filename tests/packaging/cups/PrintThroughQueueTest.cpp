#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "console/remote/PpdGenerator.h"
#include "console/remote/VirtualPrinter.h"
#include "core/config/Config.h"
#include "core/model/RemotePrinterArray.h"
#include "tests/support/PrivateCupsd.h"
#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using console::VirtualPrinter;

constexpr const char* kPrinterId = "7d1c2a9e-5b3f-4e61-9a0c-2f4b8d6e1a01";
constexpr const char* kQueue = "Velmora_7d1c2a9e-5b3f-4e61-9a0c-2f4b8d6e1a01";
constexpr const char* kUser = "nobody";

// Alice's account may print on Bob's "Office", which takes Letter paper.
std::string seed() {
    return std::string(R"({
  "accounts": [
    {"login": "alice", "password": "pw", "token": "tok-alice", "favorites": [")") +
           kPrinterId + R"("], "default_printer": ")" + kPrinterId + R"("},
    {"login": "bob", "password": "pw", "token": "tok-bob"}
  ],
  "printers": [
    {"public_id": ")" +
           kPrinterId + R"(", "owner": "bob", "title": "Office", "location": "Hall",
     "shared": true, "online": true, "details": true,
     "capabilities": {"pack": "true", "enc-type": "AES,AES0", "transport": "bmp",
                      "collate": "1", "duplex": "0", "copies": "10"},
     "papers": [{"name": "Letter", "format": "Letter", "width": 2159, "height": 2794}]}
  ]
})";
}

// A PDF of `pages` Letter pages, each with a red square 200 points wide, 72 points from the
// lower left corner.
std::string letterPdf(int pages) {
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
    std::string kids;
    const std::string content = "1 0 0 rg 72 72 200 200 re f\n";
    for (int page = 0; page < pages; ++page) {
        const size_t pageObject = objects.size() + 1;
        kids += std::to_string(pageObject) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                          std::to_string(pageObject + 1) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" +
                          content + "endstream");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t index = 0; index < objects.size(); ++index) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(index + 1) + " 0 obj\n" + objects[index] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

uint32_t le32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

// The whole sending path on this machine: a user prints a PDF with lp on the queue the console
// made; cups-filters renders it; our backend (with the test's spool folder and programs) runs
// the converter and the sender as that user; the pages reach the reference service.
class PrintThroughQueueTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<ScratchDirectory>("velmora-e2e");
        ::chmod(scratch_->path().c_str(), 0755);
        ScratchDirectory::writeFile(scratch_->path() / "seed.json", seed());
        service_ = std::make_unique<RefServiceProcess>(
            scratch_->path() / "seed.json",
            std::vector<std::string>{"--job-password-prefix", "Vm4k"},
            scratch_->path() / "service.log");
        PrivateCupsd::Options options;
        options.extraConfig = ScratchDirectory::readFile(VELMORA_QUEUE_POLICY_FILE);
        options.backends = {{"velmora", VELMORA_BACKEND_TESTABLE_PATH}};
        cupsd_ = std::make_unique<PrivateCupsd>(options);
    }
    static void TearDownTestSuite() {
        cupsd_.reset();
        service_.reset();
        scratch_.reset();
    }

    void SetUp() override {
        if (!cupsd_->running())
            GTEST_SKIP() << "No private CUPS scheduler for this test: " << cupsd_->failure();
        if (::geteuid() != 0)
            GTEST_SKIP() << "Printing as another user needs root";
        const passwd* user = ::getpwnam(kUser);
        ASSERT_NE(user, nullptr);
        uid_ = user->pw_uid;
        service_->post("/_ref/reset", "");
        prepareSharedFolder();
        ScratchDirectory::writeFile(cupsd_->serverBin() / "backend" / "velmora-backend.settings",
                                    "spool-dir=" + spoolRoot().string() +
                                        "\nconverter=" KESTRO_VL_CONVERT_PATH
                                        "\nsender=" VELMORA_SENDER_TESTABLE_PATH
                                        "\nqueue-policy=velmora"
                                        "\nsender-argument=--system-dir=" +
                                        systemDir().string() + "\n");
        VirtualPrinter::Settings settings;
        settings.changer.lpadmin.server = cupsd_->socketPath();
        settings.changer.lpadmin.systemDir = systemDir();
        settings.changer.lpadmin.opPolicy = "velmora";
        settings.appVersion = "1.6.1";
        VirtualPrinter printer(settings);
        printer.compareSharedAndVirtual({{kPrinterId, "Office", true, false}});
        printer.waitUntilIdle();
    }
    void TearDown() override {
        if (cupsd_->running())
            cupsd_->command({"lpadmin", "-x", kQueue});
    }

    static fs::path systemDir() { return scratch_->path() / "system"; }
    static fs::path spoolRoot() { return scratch_->path() / "spool"; }
    static fs::path messageFile() { return systemDir() / "messages.nobody.txt"; }

    // The user's setup as the console leaves it after a sign-in, and the generated PPD.
    void prepareSharedFolder() {
        fs::remove_all(systemDir());
        fs::create_directories(systemDir());
        ::chmod(systemDir().c_str(), 01777);
        const fs::path setup = systemDir() / "setup.nobody.xml";
        ScratchDirectory::writeFile(
            setup, "<?xml version=\"1.0\"?>\n<setup><token>tok-alice</token><service>" +
                       service_->serviceUrl() +
                       "</service><default-format>Letter</default-format>"
                       "<encryption>0</encryption><notify>0</notify></setup>\n");
        ASSERT_EQ(::chown(setup.c_str(), uid_, static_cast<gid_t>(-1)), 0);
        ::chmod(setup.c_str(), 0600);
        pugi::xml_document document;
        document.load_string(
            (std::string("<favorites><printer><public-id>") + kPrinterId +
             "</public-id><details><paper-formats><paper name=\"Letter\" format=\"Letter\" "
             "width=\"2159\" height=\"2794\"/></paper-formats></details></printer></favorites>")
                .c_str());
        RemotePrinterArray printers;
        printers.parse(document.child("favorites"), false);
        Config config(systemDir());
        config.setDefaultPrinterId(kPrinterId);
        config.setDefaultPaperFormat("Letter");
        std::string error;
        ASSERT_TRUE(console::PpdGenerator::generatePPDFile(config, printers, error)) << error;
    }

    // Prints as the user, the way any application does, and waits for the job's message.
    void print(int pages, std::vector<std::string> options) {
        const fs::path pdf = scratch_->path() / "document.pdf";
        ScratchDirectory::writeFile(pdf, letterPdf(pages));
        ::chmod(pdf.c_str(), 0644);
        std::vector<std::string> arguments = {
            "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "lp", "-d", kQueue,
            "-t",      "Report"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(pdf.string());
        const auto submitted = cupsd_->command(arguments);
        ASSERT_EQ(submitted.exitStatus, 0) << submitted.standardError;
        // Until the job has left the queue, done or cancelled.
        for (int tick = 0; tick < 1200; ++tick) {
            if (fs::exists(messageFile()) &&
                cupsd_->command({"lpstat", "-o", kQueue}).standardOutput.empty())
                break;
            if (tick > 50 && cupsd_->command({"lpstat", "-o", kQueue}).standardOutput.empty())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_TRUE(fs::exists(messageFile())) << ScratchDirectory::readFile(cupsd_->errorLog());
    }

    // A stored page unpacked by gzip itself (the job is sent packed, unencrypted).
    static std::string unpackedPage(int jobId, int pageNo) {
        const fs::path packed = scratch_->path() / "page.gz";
        ScratchDirectory::writeFile(packed, service_->page(jobId, pageNo));
        return ChildProcess::run({"gzip", "-dc", packed.string()}, scratch_->path()).standardOutput;
    }

    static RefServiceProcess::Tree onlyJob() {
        const auto jobs = RefServiceProcess::jobs(service_->state());
        if (jobs.size() != 1)
            throw std::runtime_error("expected one job, found " + std::to_string(jobs.size()));
        return jobs.front();
    }

    uid_t uid_ = 0;
    static inline std::unique_ptr<ScratchDirectory> scratch_;
    static inline std::unique_ptr<RefServiceProcess> service_;
    static inline std::unique_ptr<PrivateCupsd> cupsd_;
};

TEST_F(PrintThroughQueueTest, APdfPrintedOnTheQueueArrivesAsPagesOfItsPaperAndResolution) {
    print(2, {});
    EXPECT_EQ(ScratchDirectory::readFile(messageFile()),
              "Report/phTitsuccessfully sent for printing on Office");
    struct stat info {};
    ASSERT_EQ(::stat(messageFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, uid_);

    const auto job = onlyJob();
    EXPECT_EQ(job.get<std::string>("status"), "ready");
    EXPECT_EQ(job.get<int>("final_pages"), 2);
    EXPECT_EQ(job.get_child("fields").get<std::string>("paper-format"), "Letter");
    const int jobId = job.get<int>("id");
    for (int pageNo = 1; pageNo <= 2; ++pageNo) {
        const std::string bmp = unpackedPage(jobId, pageNo);
        ASSERT_GT(bmp.size(), 54u);
        EXPECT_EQ(bmp.substr(0, 2), "BM");
        EXPECT_EQ(le32(bmp, 18), 2550u);   // 8.5 inches at 300 dpi
        EXPECT_EQ(le32(bmp, 22), 3300u);   // 11 inches
        EXPECT_EQ(le32(bmp, 38), 11811u);  // 300 dpi in pixels per metre
        // Rows are stored bottom-up: one inch up and in lies inside the red square.
        const size_t rowSize = (2550 * 3 + 3) & ~size_t(3);
        const size_t pixel = 54 + 400 * rowSize + 400 * 3;
        EXPECT_EQ(static_cast<uint8_t>(bmp[pixel + 2]), 255) << "red";
        EXPECT_LT(static_cast<uint8_t>(bmp[pixel + 1]), 16) << "green";
        const size_t white = 54 + 3000 * rowSize + 2000 * 3;
        EXPECT_EQ(static_cast<uint8_t>(bmp[white]), 255) << "white paper";
    }
    // The job's folder went with the job.
    EXPECT_TRUE(fs::is_empty(spoolRoot()));
}

// The raster holds every copy and the sender is told one copy: each copy arrives once.
TEST_F(PrintThroughQueueTest, CopiesArriveOnce) {
    print(1, {"-n", "2", "-o", "Collate=True"});
    EXPECT_EQ(ScratchDirectory::readFile(messageFile()),
              "Report/phTitsuccessfully sent for printing on Office");
    const auto job = onlyJob();
    EXPECT_EQ(job.get<int>("final_pages"), 2);
    // A job of one copy names no count.
    EXPECT_EQ(job.get_child("fields").get<int>("copies", 1), 1);
    EXPECT_EQ(job.get_child("fields").get<std::string>("collate", "0"), "1");
}

// The user name of a job on a queue of the default policy is only claimed ("lp -U"). Moving
// such a job onto our queue would have the backend send it with the claimed user's account.
TEST_F(PrintThroughQueueTest, AJobClaimedForAnotherUserCannotBeMovedOntoTheQueue) {
    const fs::path document = scratch_->path() / "claimed.pdf";
    ScratchDirectory::writeFile(document, letterPdf(1));
    ::chmod(document.c_str(), 0644);
    ASSERT_EQ(cupsd_->command({"lpadmin", "-p", "Plain", "-E", "-v", "file:/dev/null"}).exitStatus,
              0);
    const std::vector<std::string> asNobody = {
        "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "env", "CUPS_USER=root"};
    auto command = asNobody;
    command.insert(command.end(), {"lp", "-d", "Plain", "-H", "hold", document.string()});
    ASSERT_EQ(cupsd_->command(command).exitStatus, 0);

    command = asNobody;
    command.insert(command.end(), {"lpmove", "Plain", kQueue});
    const auto moved = cupsd_->command(command);
    const std::string onOurQueue = cupsd_->command({"lpstat", "-o", kQueue}).standardOutput;
    cupsd_->command({"cancel", "-a", "-x", "Plain"});
    cupsd_->command({"lpadmin", "-x", "Plain"});
    EXPECT_NE(moved.exitStatus, 0);
    EXPECT_EQ(onOurQueue, "");
}

// A queue of our form that the scheduler runs under its default policy: made by hand, or ours
// with our policy lost from cupsd.conf (a replaced configuration file), when the scheduler falls
// back to the default. There "lp -U" is taken at its word, so nothing may run as the claimed user.
TEST_F(PrintThroughQueueTest, AClaimedUserOnAQueueWithoutOurPolicyHasNothingRunAsThem) {
    const std::string queue = "Velmora_0b5e9f3a-6c2d-4e1f-8a7b-3d9c5e2f1a04";
    ASSERT_EQ(cupsd_
                  ->command({"lpadmin", "-p", queue, "-v", "velmora:/", "-P",
                             Config(systemDir()).getPPDFileName().string(), "-E"})
                  .exitStatus,
              0);
    const fs::path document = scratch_->path() / "claimed.pdf";
    ScratchDirectory::writeFile(document, letterPdf(1));
    ::chmod(document.c_str(), 0644);
    const auto submitted =
        cupsd_->command({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "lp",
                         "-U", "daemon", "-d", queue, document.string()});
    ASSERT_EQ(submitted.exitStatus, 0) << submitted.standardError;
    for (int tick = 0; tick < 1200; ++tick) {
        if (cupsd_->command({"lpstat", "-o", queue}).standardOutput.empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const std::string pending = cupsd_->command({"lpstat", "-o", queue}).standardOutput;
    cupsd_->command({"cancel", "-a", "-x", queue});
    cupsd_->command({"lpadmin", "-x", queue});
    EXPECT_EQ(pending, "");
    // The sender, run as daemon, would have left daemon a message (there is no setup of theirs).
    EXPECT_FALSE(fs::exists(systemDir() / "messages.daemon.txt"));
    EXPECT_NE(ScratchDirectory::readFile(cupsd_->errorLog()).find("is not proven"),
              std::string::npos);
}

}  // namespace
}  // namespace velmora::test
