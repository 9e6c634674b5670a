#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <regex>
#include <string>

#include "console/jobs/HTTPServer.h"
#include "core/xml/XmlHelpers.h"
#include "tests/console/jobs/DirectClient.h"
#include "tests/support/PrivateCupsd.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {

// Stands in for the job processor, which is not part of these suites: it only counts how
// often the job list asked it to look at the jobs again.
class CountingDispatcher : public JobDispatcher {
  public:
    void dispatchJobs() override { ++calls; }
    int calls = 0;
};

// A direct print server on a free loopback port with real sockets, real page files in a
// scratch profile folder, and local printers read from a private scheduler: "Shared_Queue"
// is shared with nearby clients, "Hidden_Queue" is shared but hidden, "Private_Queue" is not
// shared at all. Clients run on their own threads while the test's thread runs Qt's loop.
class DirectServerFixture : public ::testing::Test {
  public:
    // A page's bytes: every byte tells its offset, so a misplaced range shows.
    static std::string pattern(size_t size, size_t from = 0) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((from + i) * 7 % 251);
        return bytes;
    }

  protected:
    static void SetUpTestSuite() {
        application();
        cupsd_ = std::make_unique<test::PrivateCupsd>();
        if (!cupsd_->running())
            return;
        for (const char* queue : {"Shared_Queue", "Hidden_Queue", "Private_Queue"}) {
            const auto added =
                cupsd_->command({"lpadmin", "-p", queue, "-P",
                                 std::string(VELMORA_FIXTURE_PPD_DIR) + "/simplex-inkjet.ppd", "-v",
                                 "file:///dev/null", "-E"});
            if (added.exitStatus != 0)
                setupFailure_ += "lpadmin failed: " + added.standardError;
        }
    }
    static void TearDownTestSuite() { cupsd_.reset(); }

    static QCoreApplication& application() {
        static int argc = 1;
        static char name[] = "direct-server-tests";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        return app;
    }

    void SetUp() override {
        if (!cupsd_->running())
            GTEST_SKIP() << "No private CUPS scheduler, so no shared printer: "
                         << cupsd_->failure();
        ASSERT_EQ(setupFailure_, "");
        ASSERT_TRUE(printers_.loadFromSystem());
        pugi::xml_document lookup;
        pugi::xml_node list = lookup.append_child("lookup");
        for (const LocalPrinter& printer : printers_.allPrinters()) {
            if (printer.localTitle() != "Private_Queue")
                appendElement(list.append_child("printer"), "public-id", printer.publicId());
        }
        printers_.parseLookupXml(list);
        printers_.updatePrinter("Hidden_Queue",
                                [](LocalPrinter& printer) { printer.setHidden(true); });
        startServer(limits());
    }

    virtual HTTPServer::Limits limits() const { return HTTPServer::Limits(); }

    void startServer(HTTPServer::Limits limits) {
        server_ = std::make_unique<HTTPServer>(jobs_, printers_, limits);
        server_->registerDefaultHandlers();
        ASSERT_TRUE(server_->start(0, QHostAddress::LocalHost));
        port_ = server_->serverPort();
    }

    // Runs `work` on a thread of its own while this thread serves; returns what it returns.
    template <typename Work>
    auto pump(Work&& work) {
        auto result = std::async(std::launch::async, std::forward<Work>(work));
        QTimer ticker;
        ticker.start(2);
        while (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return result.get();
    }
    // Serves for a while with no client of the test's own running.
    void serveFor(std::chrono::milliseconds time) {
        pump([time] { std::this_thread::sleep_for(time); });
    }

    test::DirectClient::Reply exchange(const std::string& bytes) {
        const uint16_t port = port_;
        return pump([port, bytes] {
            test::DirectClient client(port);
            client.send(bytes);
            return client.receive();
        });
    }

    static std::string jobRequest(const std::string& printerId) {
        return "<request><data><job><printer>" + printerId +
               "</printer><document>Report</document><paper-format>A4</paper-format>"
               "<copies>1</copies></job></data></request>";
    }
    test::DirectClient::Reply newJob(const std::string& body) {
        return exchange(test::DirectClient::request("POST", "/newjob", "", body));
    }
    // Opens a job for the shared printer; its id, or 0.
    int openJob() {
        const auto reply = newJob(jobRequest(publicId("Shared_Queue")));
        std::smatch id;
        if (reply.status != 200 || !std::regex_search(reply.body, id, std::regex("id=\"(\\d+)\"")))
            return 0;
        return std::stoi(id[1]);
    }

    static std::string postRequest(int job, const std::string& page,
                                   const std::optional<std::string>& range,
                                   const std::string& body) {
        std::string headers = "TD-Job: " + std::to_string(job) + "\r\nTD-Page: " + page + "\r\n";
        if (range)
            headers += "Content-Range: " + *range + "\r\n";
        return test::DirectClient::request("POST", "/post", headers, body);
    }
    test::DirectClient::Reply post(int job, const std::string& page,
                                   const std::optional<std::string>& range,
                                   const std::string& body) {
        return exchange(postRequest(job, page, range, body));
    }

    std::string publicId(const std::string& localTitle) const {
        for (const LocalPrinter& printer : printers_.allPrinters()) {
            if (printer.localTitle() == localTitle)
                return printer.publicId();
        }
        return "";
    }
    std::filesystem::path pageFile(int job, int page) const {
        return profile_.path() / ("DirectJob" + std::to_string(job)) /
               (std::to_string(page) + ".emf");
    }
    std::string stored(int job, int page) const {
        return test::ScratchDirectory::readFile(pageFile(job, page));
    }
    int32_t status(int job) {
        const Job* found = jobs_.getPtpJob(job);
        return found != nullptr ? found->status() : -1;
    }
    static inline std::unique_ptr<test::PrivateCupsd> cupsd_;
    static inline std::string setupFailure_;
    test::ScratchDirectory profile_{"velmora-direct"};
    CountingDispatcher dispatcher_;
    int profileSaves_ = 0;
    JobArray jobs_{dispatcher_, {[this] { return profile_.path(); }, [this] { ++profileSaves_; }}};
    LocalPrinterArray printers_{cupsd_ ? cupsd_->socketPath() : ""};
    std::unique_ptr<HTTPServer> server_;
    uint16_t port_ = 0;
};

}  // namespace velmora::console
