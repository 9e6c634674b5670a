#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QRandomGenerator>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <regex>

#include "console/jobs/HTTPServer.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/jobs/Processor.h"
#include "console/jobs/QtJobPrinter.h"
#include "core/account/Permission.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/config/Config.h"
#include "core/net/InetProvider.h"
#include "core/xml/XmlHelpers.h"
#include "platform/QtRunLoop.h"
#include "tests/console/jobs/DirectClient.h"
#include "tests/console/jobs/PrintSystem.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::DirectClient;
using test::PrintSystem;

constexpr const char* kQueue = "Direct_File";
constexpr size_t kDirectChunk = 131071;

// A BMP page of noise, so that it is several ranges long and every byte matters.
std::string bmpPage(int width, int height, quint32 seed) {
    QImage image(width, height, QImage::Format_RGB888);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, random.generate() & 0x00ffffff);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes.toStdString();
}

// Copies a job's page files the moment the job list announces it complete, before the
// processor (dispatched right after) prints and removes them.
class ReadyPages : public JobArrayDelegate {
  public:
    explicit ReadyPages(JobArray& jobs) : jobs_(jobs) {}
    void jobArray_Changed(int added) override {
        if (added != 1)
            return;
        for (size_t i = 0; i < jobs_.count(); ++i) {
            const Job& job = jobs_.objectAtIndex(i);
            if (!job.isPTP() || job.status() != Job::kReady)
                continue;
            for (int page = 0; page < static_cast<int>(job.pages().size()); ++page) {
                const std::string file = job.getFileNameForPage(page, false);
                pages[job.pages()[static_cast<size_t>(page)].number()] =
                    test::ScratchDirectory::readFile(file);
            }
        }
    }
    std::map<int, std::string> pages;

  private:
    JobArray& jobs_;
};

struct Forward : JobDispatcher {
    Processor* processor = nullptr;
    void dispatchJobs() override {
        if (processor != nullptr)
            processor->dispatchJobs();
    }
};

// A nearby client hands a two-page job to the direct print server over loopback, in the
// sender's range size; the console's own job list, processor and Qt printing print it on a
// private scheduler's file queue. The service address leads to a server that records every
// request, so a call to the service would show.
class DirectServerEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!PrintSystem::instance()->running())
            GTEST_SKIP() << "No private CUPS scheduler: " << PrintSystem::instance()->failure();
        output_ = PrintSystem::instance()->addFileQueue(kQueue);
        config_.setService(service_.url("/"));
        config_.setToken("tok");
        permissions_.addObject(Permission(std::nullopt, Permission::kAllow));
        ASSERT_TRUE(localPrinters_.loadFromSystem());
        pugi::xml_document lookup;
        pugi::xml_node list = lookup.append_child("lookup");
        for (const LocalPrinter& printer : localPrinters_.allPrinters()) {
            if (printer.localTitle() == kQueue) {
                publicId_ = printer.publicId();
                appendElement(list.append_child("printer"), "public-id", publicId_);
            }
        }
        localPrinters_.parseLookupXml(list);
        ASSERT_FALSE(publicId_.empty());
        jobs_.addDelegate(&readyPages_);
        forward_.processor = &processor_;
        server_.registerDefaultHandlers();
        ASSERT_TRUE(server_.start(0, QHostAddress::LocalHost));
    }

    template <typename Work>
    auto pump(Work&& work) {
        auto result = std::async(std::launch::async, std::forward<Work>(work));
        QTimer ticker;
        ticker.start(5);
        while (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return result.get();
    }

    test::LoopbackHttpServer service_{[](const test::LoopbackHttpServer::Request&) {
        return test::LoopbackHttpServer::Reply{500, "", {}, 0, false, 0};
    }};
    test::ScratchDirectory profile_{"velmora-direct-e2e"};
    fs::path output_;
    std::string publicId_;
    Config config_{"/nonexistent"};
    Person user_;
    InetProvider inet_{config_, user_};
    PermissionArray permissions_;
    LocalPrinterArray localPrinters_{PrintSystem::instance()->cupsd().socketPath()};
    QtRunLoop loop_;
    QtJobPrinter printer_{loop_};
    Forward forward_;
    JobArray jobs_{forward_, {[this] { return profile_.path(); }, [] {}}};
    ReadyPages readyPages_{jobs_};
    Processor processor_{{loop_, jobs_, permissions_, localPrinters_, inet_, printer_}};
    HTTPServer server_{jobs_, localPrinters_};
};

TEST_F(DirectServerEndToEndTest, PostedJobBecomesReadyAndIsPrintedWithoutTheService) {
    const std::map<int, std::string> pages = {{1, bmpPage(500, 400, 1)}, {2, bmpPage(300, 420, 2)}};
    pugi::xml_document request;
    JobData description;
    description.setFormat("A4");
    description.setCopies(1);
    description.setPrinterId(publicId_);
    description.setTitle("Nearby");
    description.getXml(request.append_child("data"));
    const std::string newJob = DirectClient::request("POST", "/newjob", "", xmlToString(request));
    const uint16_t port = server_.serverPort();

    const auto [jobId, statuses] = pump([&] {
        DirectClient opener(port);
        opener.send(newJob);
        std::smatch id;
        const std::string answer = opener.receive().body;
        if (!std::regex_search(answer, id, std::regex("id=\"(\\d+)\"")))
            return std::pair{0, std::vector<int>{}};
        const int job = std::stoi(id[1]);
        std::vector<int> answers;
        for (const auto& [number, bytes] : pages) {
            for (size_t at = 0; at < bytes.size(); at += kDirectChunk) {
                const std::string piece = bytes.substr(at, kDirectChunk);
                const std::string headers =
                    "TD-Job: " + std::to_string(job) + "\r\nTD-Page: " + std::to_string(number) +
                    "/2\r\nContent-Range: bytes " + std::to_string(at) + "-" +
                    std::to_string(at + piece.size() - 1) + "/" + std::to_string(bytes.size()) +
                    "\r\nContent-Type: binary\r\n";
                DirectClient client(port);
                client.send(DirectClient::request("POST", "/post", headers, piece));
                answers.push_back(client.receive().status);
            }
        }
        return std::pair{job, answers};
    });
    ASSERT_GT(jobId, 0);
    EXPECT_GE(statuses.size(), 6u);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 200),
              static_cast<long>(statuses.size()));
    EXPECT_EQ(readyPages_.pages, pages);

    const int32_t final = pump([&] {
        for (int wait = 0; wait < 1200; ++wait) {
            std::promise<int32_t> now;
            loop_.post([&] {
                const Job* job = jobs_.getPtpJob(jobId);
                now.set_value(job != nullptr ? job->status() : -1);
            });
            const int32_t status = now.get_future().get();
            if (status == Job::kDone || status == Job::kError)
                return status;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return int32_t{-1};
    });
    EXPECT_EQ(final, Job::kDone);
    ASSERT_TRUE(PrintSystem::instance()->waitUntilIdle());
    EXPECT_EQ(PrintSystem::pdfPages(output_).size(), 2u);
    EXPECT_TRUE(service_.requests().empty());
    processor_.stop();
}

}  // namespace
}  // namespace velmora::console
