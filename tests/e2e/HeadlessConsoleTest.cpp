#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <chrono>
#include <csignal>
#include <functional>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "core/config/Config.h"
#include "tests/e2e/BackgroundProcess.h"
#include "tests/support/PrivateCupsd.h"
#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kPrinterId = "3b9e4f27-8c1d-4a65-b0f2-6d7e9a1c5b38";
constexpr const char* kQueue = "Office_File";
constexpr const char* kProfile = "bob.127.0.0.1";

// Bob shares his printer "Office" and lets alice print on it; the service still lists the
// printer offline, as it does until bob's console signs in again and re-shares it.
std::string seed() {
    return std::string(R"({
  "accounts": [
    {"login": "alice", "id": 1, "token": "tok-alice"},
    {"login": "bob", "id": 2, "token": "tok-bob",
     "permissions": [{"client": "alice", "permission": "Allow"}]}
  ],
  "printers": [{"public_id": ")") +
           kPrinterId + R"(", "owner": "bob", "title": "Office", "shared": true,
                 "online": false}]
})";
}

std::string gzip(const QByteArray& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// A packed PNG page of a grey level of its own, Base64 as the seed takes it.
std::string packedPage(int page) {
    QImage image(200, 260, QImage::Format_RGB32);
    image.fill(qRgb(40 * page, 40 * page, 40 * page));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QByteArray::fromStdString(gzip(png)).toBase64().toStdString();
}

// The scheduler policy and the backend of the console's queues of remote printers.
PrivateCupsd::Options queuePolicy() {
    PrivateCupsd::Options options;
    options.extraConfig = ScratchDirectory::readFile(VELMORA_QUEUE_POLICY_FILE);
    options.backends = {{"velmora", VELMORA_BACKEND_PATH}};
    return options;
}

// Polls `done` every 200 ms for at most `limit`; whether it came true.
bool eventually(std::chrono::seconds limit, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(200ms);
    }
    return true;
}

// The headless console as the program a print server runs: its own process, signed in with the
// token in its setup file, polling a reference service over loopback and printing incoming
// jobs on a private scheduler's queue whose device is a file.
class HeadlessConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::chmod(scratch_.path().c_str(), 0755);
        if (!cupsd_.running())
            GTEST_SKIP() << "No private CUPS scheduler for this test: " << cupsd_.failure();
        fs::create_directories(outputDir());
        ::chmod(outputDir().c_str(), 0777);
        const auto added =
            cupsd_.command({"lpadmin", "-p", kQueue, "-E", "-v", "file://" + output().string(),
                            "-P", std::string(VELMORA_FIXTURE_PPD_DIR) + "/pdf-file.ppd"});
        ASSERT_EQ(added.exitStatus, 0) << added.standardError;
        ScratchDirectory::writeFile(scratch_ / "seed.json", seed());
        startService(0);
        writeSetupAndProfile();
    }

    void TearDown() override {
        if (HasFailure() && console_)
            std::cerr << "--- console output\n" << console_->output() << "---\n";
    }

    fs::path systemDir() const { return scratch_ / "system"; }
    fs::path outputDir() const { return scratch_ / "printed"; }
    fs::path output() const { return outputDir() / "office.pdf"; }

    // On `port`, or a free one for 0; the same seed every time.
    void startService(int port) {
        std::vector<std::string> options;
        if (port != 0)
            options = {"--port", std::to_string(port)};
        service_ = std::make_unique<RefServiceProcess>(
            scratch_ / "seed.json", options,
            scratch_ / ("service-" + std::to_string(++serviceRuns_) + ".log"));
    }

    // What bob's console keeps after he signed in and shared the queue as his printer: the
    // setup file with his token and profile name, and the profile naming the queue's public id.
    void writeSetupAndProfile() {
        fs::create_directories(systemDir() / kProfile);
        ::chmod((systemDir() / kProfile).c_str(), 0700);
        const std::string user = Config(systemDir()).currentUserName();
        ASSERT_FALSE(user.empty());
        const fs::path setup = systemDir() / ("setup." + user + ".xml");
        ScratchDirectory::writeFile(
            setup, std::string("<?xml version=\"1.0\"?>\n<setup><profile>") + kProfile +
                       "</profile><token>tok-bob</token><service>" + service_->serviceUrl() +
                       "</service><fast-check-interval>1</fast-check-interval>"
                       "<delivery-result>1</delivery-result></setup>\n");
        ::chmod(setup.c_str(), 0600);
        const fs::path profile = systemDir() / kProfile / "config.xml";
        ScratchDirectory::writeFile(
            profile, std::string("<?xml version=\"1.0\"?>\n<config version=\"1601\"><printers>"
                                 "<printer hidden=\"false\"><public-id>") +
                         kPrinterId + "</public-id><title>Office</title><local-title>" + kQueue +
                         "</local-title></printer></printers></config>\n");
        ::chmod(profile.c_str(), 0600);
    }

    // Its own runtime folder, so that the one-console-per-user rule does not meet the consoles
    // of other suites that run as the same user.
    void startConsole() {
        fs::create_directories(scratch_ / "runtime");
        ::chmod((scratch_ / "runtime").c_str(), 0700);
        console_ = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{VELMORA_TESTABLE_PATH, "--headless", "--system-dir",
                                     systemDir().string(), "--duplex-ppd", VELMORA_DUPLEX_PPD,
                                     "--direct-port", "0", "--runtime-dir",
                                     (scratch_ / "runtime").string()},
            cupsd_.environment(), scratch_ / "console.log");
    }

    // Whether the service lists bob's printer online again, which only his console's
    // re-sharing after a sign-in does.
    bool printerShared() const {
        const RefServiceProcess::Tree state = service_->state();
        for (const auto& [unused, printer] : state.get_child("printers")) {
            if (printer.get<std::string>("public_id") == kPrinterId)
                return printer.get<bool>("online") && printer.get<bool>("shared");
        }
        return false;
    }

    // Until the console signed in and re-shared its printer; false when it ended first.
    bool waitForSignIn() {
        return eventually(60s, [&] { return !console_->running() || printerShared(); }) &&
               console_->running();
    }

    void seedJob(int id, int pages) const {
        std::string list;
        for (int page = 1; page <= pages; ++page)
            list += (page > 1 ? ",{\"base64\": \"" : "{\"base64\": \"") + packedPage(page) + "\"}";
        service_->seed(R"({"jobs": [{"id": )" + std::to_string(id) +
                       R"(, "sender": "alice", "printer": ")" + kPrinterId +
                       R"(", "status": "ready", "document": "Job )" + std::to_string(id) +
                       R"(", "paper-format": "Letter", "paper-orientation": "0", "copies": 1,
                          "duplex": 0, "pack": true, "transport": "png", "pages": [)" +
                       list + "]}]}");
    }

    std::string serviceJobStatus(int id) const {
        for (const auto& job : RefServiceProcess::jobs(service_->state())) {
            if (job.get<int>("id") == id)
                return job.get<std::string>("status");
        }
        return "";
    }

    // Pages of the PDF the file queue wrote, by pdfinfo; 0 while there is none.
    int printedPages() const {
        if (!fs::exists(output()))
            return 0;
        const auto info = ChildProcess::run({"pdfinfo", output().string()}, scratch_.path());
        std::smatch match;
        static const std::regex pagesLine(R"(Pages:\s+(\d+))");
        return std::regex_search(info.standardOutput, match, pagesLine) ? std::stoi(match[1]) : 0;
    }

    // Seeds a job of `pages` pages and waits until it is on paper and reported printed.
    void expectJobPrinted(int id, int pages) {
        fs::remove(output());
        seedJob(id, pages);
        EXPECT_TRUE(eventually(
            180s, [&] { return printedPages() == pages && serviceJobStatus(id) == "printed"; }))
            << "job " << id << ": " << printedPages() << " page(s) printed, service status \""
            << serviceJobStatus(id) << "\"";
    }

    int logoffCount() const {
        int count = 0;
        for (const auto& entry : service_->requests("soap"))
            count += entry.get<std::string>("operation", "") == "Logoff" ? 1 : 0;
        return count;
    }

    ScratchDirectory scratch_{"velmora-headless"};
    PrivateCupsd cupsd_{queuePolicy()};
    std::unique_ptr<RefServiceProcess> service_;
    std::unique_ptr<BackgroundProcess> console_;
    int serviceRuns_ = 0;
};

TEST_F(HeadlessConsoleTest, PrintsAgainAfterTheServiceWentAwayAndCameBack) {
    startConsole();
    ASSERT_TRUE(waitForSignIn()) << "the console did not sign in and re-share its printer";
    ASSERT_NO_FATAL_FAILURE(expectJobPrinted(2001, 2));
    // Headless, the console keeps the queues of the printers in its list as its window would.
    EXPECT_TRUE(eventually(60s, [&] {
        return cupsd_.command({"lpstat", "-v", std::string("Velmora_") + kPrinterId})
                   .standardOutput.find("velmora:/") != std::string::npos;
    }));

    // The service stops; the console's polls fail for longer than its first pause.
    const int port = service_->port();
    service_.reset();
    std::this_thread::sleep_for(8s);
    ASSERT_TRUE(console_->running()) << "the console ended while the service was away";

    startService(port);
    ASSERT_NO_FATAL_FAILURE(expectJobPrinted(2002, 3));

    const auto status = console_->stop(SIGTERM, 60);
    ASSERT_TRUE(status.has_value()) << "the console did not quit within 60 s of SIGTERM";
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(logoffCount(), 1);
    EXPECT_EQ(service_->state().get<int>("malformed_count"), 0);
}

// A print server whose console starts before the service is reachable: the first sign-in fails
// and is tried again by itself until the service answers.
TEST_F(HeadlessConsoleTest, SignsInByItselfWhenTheServiceComesUpLater) {
    const int port = service_->port();
    service_.reset();
    startConsole();
    std::this_thread::sleep_for(7s);
    ASSERT_TRUE(console_->running()) << "the console ended while the service was away";

    startService(port);
    ASSERT_TRUE(waitForSignIn()) << "the console did not sign in once the service answered";
    ASSERT_NO_FATAL_FAILURE(expectJobPrinted(2003, 1));
    const auto status = console_->stop(SIGTERM, 60);
    ASSERT_TRUE(status.has_value()) << "the console did not quit within 60 s of SIGTERM";
    EXPECT_EQ(*status, 0);
}

}  // namespace
}  // namespace velmora::test
