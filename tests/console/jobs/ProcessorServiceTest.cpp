#include <gtest/gtest.h>

#include <zlib.h>
#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "console/jobs/JobArray.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/jobs/Processor.h"
#include "console/jobs/QtJobPrinter.h"
#include "core/Deployment.h"
#include "core/account/Permission.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/config/Config.h"
#include "core/net/InetProvider.h"
#include "platform/PlainRunLoop.h"
#include "tests/console/jobs/PrintSystem.h"
#include "tests/core/crypto/CryptoTestSupport.h"
#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

namespace fs = std::filesystem;
using test::PrintSystem;
using test::RefServiceProcess;

constexpr const char* kPrinterId = "6f1d2c3b-0a99-4e8e-9d3f-2b7c1a0e5d41";
constexpr const char* kQueue = "Processor_File";
constexpr int kAliceId = 1;

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

QByteArray pngPage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

std::string base64(const std::string& bytes) {
    return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

// How a job is sent: packed or not, and which encryption.
struct Sending {
    bool packed = true;
    std::string method;  // "", "AES" or "AES0"
    std::string keyPassword;
};

// Records every state the processor reports, on the main thread.
class StateRecorder : public ProcessorDelegate {
  public:
    void processor_ChangedJob(const Job& job) override {
        history[job.serverId()].push_back(job.status());
    }
    std::map<int, std::vector<int32_t>> history;
};

// The processor with every real part: the reference service over loopback, a private scheduler
// whose queue writes a PDF file, Qt printing, and a main loop of its own thread.
class ProcessorServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<test::ScratchDirectory>("velmora-processor");
        test::ScratchDirectory::writeFile(*scratch_ / "seed.json", std::string(R"({
            "accounts": [
                {"login": "alice", "id": 1, "token": "tok-alice"},
                {"login": "bob", "id": 2, "token": "tok-bob"}],
            "printers": [{"public_id": ")") + kPrinterId + R"(", "owner": "bob",
                          "title": "Office", "shared": true, "online": true}]})");
        service_ = std::make_unique<RefServiceProcess>(
            *scratch_ / "seed.json", std::vector<std::string>{}, *scratch_ / "service.log");
        if (PrintSystem::instance()->running())
            output_ = PrintSystem::instance()->addFileQueue(kQueue);
    }
    static void TearDownTestSuite() {
        service_.reset();
        scratch_.reset();
    }

    void SetUp() override {
        if (!PrintSystem::instance()->running())
            GTEST_SKIP() << "No private CUPS scheduler: " << PrintSystem::instance()->failure();
        service_->post("/_ref/reset", "");
        config_.setService(service_->serviceUrl());
        config_.setToken("tok-bob");
        ASSERT_TRUE(localPrinters_.loadFromSystem());
        ASSERT_TRUE(localPrinters_.updatePrinter(
            kQueue, [](LocalPrinter& printer) { printer.setPublicId(kPrinterId); }));
        setPermission(Permission::kAllow);
        jobs_ = std::make_unique<JobArray>(
            forward_, JobArray::Environment{[this] { return profile_.path(); }, [] {}});
        processor_ = std::make_unique<Processor>(
            Processor::Collaborators{loop_, *jobs_, permissions_, localPrinters_, inet_, printer_});
        forward_.processor = processor_.get();
        processor_->addDelegate(&recorder_);
        loopThread_ = std::thread([this] { loop_.run(); });
    }

    void TearDown() override {
        if (!loopThread_.joinable())
            return;
        loop_.stop();
        loopThread_.join();
        processor_.reset();
        EXPECT_EQ(service_->state().get<int>("malformed_count"), 0);
    }

    void setPermission(int value) {
        permissions_.removeAllObjects();
        permissions_.addObject(Permission(std::nullopt, value));
    }
    void onMain(const std::function<void()>& task) { ASSERT_TRUE(loop_.postAndWait(task)); }

    // Seeds a ready job of `pages` black PNG pages for bob's printer; its id.
    int seedJob(const Sending& sending, int pages = 2, const std::string& printer = kPrinterId) {
        const int id = nextId_++;
        const std::string key = sending.method.empty() ? "" : std::string(32, '\0');
        test::Bytes keyBytes = test::randomBytes(32, static_cast<uint32_t>(id));
        std::string pageList;
        for (int page = 1; page <= pages; ++page) {
            const QByteArray png = pngPage(100 + page * 10, 140);
            std::string bytes = sending.packed ? gzip(png) : png.toStdString();
            if (!sending.method.empty()) {
                const test::Bytes plain(bytes.begin(), bytes.end());
                const test::Bytes encrypted = test::opensslJobFile(plain, keyBytes);
                bytes.assign(encrypted.begin(), encrypted.end());
            }
            pageList +=
                (page > 1 ? "," : "") + std::string("{\"base64\": \"") + base64(bytes) + "\"}";
        }
        std::string job = "{\"id\": " + std::to_string(id) +
                          R"(, "sender": "alice", "printer": ")" + printer +
                          R"(", "status": "ready", "document": "Job )" + std::to_string(id) +
                          R"(", "paper-format": "A4", "paper-orientation": "0", "copies": 1,)" +
                          R"( "duplex": 0, "pack": )" + (sending.packed ? "true" : "false") +
                          R"(, "transport": "png", "pages": [)" + pageList + "]";
        if (!sending.method.empty()) {
            job += R"(, "encrypt-method": ")" + sending.method + R"(", "key": ")" +
                   base64(std::string(keyBytes.begin(), keyBytes.end())) +
                   R"(", "key_password": ")" + sending.keyPassword + "\"";
        }
        service_->seed("{\"jobs\": [" + job + "}]}");
        return id;
    }

    // One change check as bob, merged into the list like the console's polling does.
    // `tamper`, when given, rewrites the reply first, as a hostile service would send it.
    void checkForJobs(bool incremental = true,
                      const std::function<void(std::string&)>& tamper = {}) {
        const auto headers = inet_.dictionaryWithTDTokenHeader();
        std::string error;
        auto reply = inet_.downloadData(service_->base() + "/fastCheck3.aspx?d=", &headers, error);
        ASSERT_TRUE(reply) << error;
        if (tamper)
            tamper(*reply);
        auto document = std::make_shared<pugi::xml_document>();
        ASSERT_TRUE(document->load_string(reply->c_str())) << *reply;
        onMain([&] { jobs_->parse(document->child("response").child("jobs"), incremental, true); });
    }

    Job snapshot(int id, Job::Origin origin = Job::Origin::kService) {
        Job copy;
        onMain([&] {
            if (const Job* job = jobs_->findJob(origin, id))
                copy = Job::initWithJob(*job);
        });
        return copy;
    }
    int32_t status(int id, Job::Origin origin = Job::Origin::kService) {
        return snapshot(id, origin).status();
    }
    std::vector<int32_t> history(int id) {
        std::vector<int32_t> states;
        onMain([&] { states = recorder_.history[id]; });
        return states;
    }

    // Waits until the job is in one of `states` and no copy of it is in a worker.
    bool waitForState(int id, std::initializer_list<int32_t> states,
                      Job::Origin origin = Job::Origin::kService, double seconds = 60) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            const int32_t now = status(id, origin);
            for (int32_t state : states) {
                if (now == state)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Waits until every arranged fault has met its request: a delayed download has started.
    void waitUntilFaultsTaken() const {
        for (int attempt = 0; attempt < 1500; ++attempt) {
            if (service_->get("/_ref/fault").body.find("delay") == std::string::npos)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        FAIL() << "the service never saw the delayed request";
    }

    int countRequests(const std::string& kind, const std::string& operation, int jobId) const {
        int count = 0;
        for (const auto& entry : service_->requests(kind)) {
            if (!operation.empty() && entry.get<std::string>("operation", "") != operation)
                continue;
            const std::string where =
                entry.get<std::string>("query", "") + entry.get<std::string>("param", "");
            if (where.find(std::to_string(jobId)) != std::string::npos)
                count++;
        }
        return count;
    }
    int downloads(int id) const { return countRequests("download", "", id); }
    int soapCalls(const std::string& operation, int id) const {
        return countRequests("soap", operation, id);
    }
    fs::path jobDir(int id) const { return profile_.path() / ("Job" + std::to_string(id)); }

    struct Forward : JobDispatcher {
        Processor* processor = nullptr;
        void dispatchJobs() override {
            if (processor != nullptr)
                processor->dispatchJobs();
        }
    };

    static inline std::unique_ptr<test::ScratchDirectory> scratch_;
    static inline std::unique_ptr<RefServiceProcess> service_;
    static inline fs::path output_;
    static inline int nextId_ = 3001;

    test::ScratchDirectory profile_{"velmora-profile"};
    Config config_{"/nonexistent"};
    Person user_;
    InetProvider inet_{config_, user_};
    PermissionArray permissions_;
    LocalPrinterArray localPrinters_{PrintSystem::instance()->cupsd().socketPath()};
    PlainRunLoop loop_;
    bool panelAnswer_ = true;
    int panelShown_ = 0;
    QtJobPrinter printer_{loop_, [this](QPrinter&) {
                              panelShown_++;
                              return panelAnswer_;
                          }};
    Forward forward_;
    std::unique_ptr<JobArray> jobs_;
    std::unique_ptr<Processor> processor_;
    StateRecorder recorder_;
    std::thread loopThread_;
};

TEST_F(ProcessorServiceTest, EachWayOfSendingIsPrintedReportedOnceAndCleanedUp) {
    struct Case {
        const char* name;
        Sending sending;
    };
    const std::vector<Case> cases = {
        {"packed, plain", {true, "", ""}},
        {"not packed", {false, "", ""}},
        {"packed, service key", {true, "AES0", deployment::jobPassword(nextId_ + 2)}},
        {"not packed, service key", {false, "AES0", deployment::jobPassword(nextId_ + 3)}},
    };
    std::vector<int> ids;
    for (const Case& c : cases)
        ids.push_back(seedJob(c.sending, 3));
    checkForJobs();
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const int id = ids[i];
        ASSERT_TRUE(waitForState(id, {Job::kDone, Job::kError})) << status(id);
        const Job job = snapshot(id);
        EXPECT_EQ(job.status(), Job::kDone) << job.error();
        EXPECT_EQ(history(id), (std::vector<int32_t>{Job::kDownloading, Job::kReady, Job::kPrinting,
                                                     Job::kDone}));
        EXPECT_FALSE(job.isNew());
        EXPECT_EQ(downloads(id), 3);
        EXPECT_EQ(soapCalls("UpdateJob", id), 1);
        EXPECT_EQ(soapCalls("GetKey", id), cases[i].sending.method.empty() ? 0 : 1);
        EXPECT_FALSE(fs::exists(jobDir(id)));
    }
    ASSERT_TRUE(PrintSystem::instance()->waitUntilIdle());
    EXPECT_EQ(PrintSystem::pdfPages(output_).size(), 3u);
}

TEST_F(ProcessorServiceTest, PagesThatStayOnDiskAreStoredUnderTheirPlainNames) {
    // Printed on no local printer, the pages stay where the download left them.
    service_->seed(R"({"printers": [{"public_id": "0c0c0c0c-1111-2222-3333-444444444444",
                                      "owner": "bob", "shared": true, "online": true}]})");
    const int plain = seedJob({false, "", ""}, 2, "0c0c0c0c-1111-2222-3333-444444444444");
    const int packed = seedJob({true, "", ""}, 2, "0c0c0c0c-1111-2222-3333-444444444444");
    checkForJobs();
    for (int id : {plain, packed}) {
        ASSERT_TRUE(waitForState(id, {Job::kError}));
        EXPECT_EQ(snapshot(id).error(), "Local printer not found");
        for (int page = 1; page <= 2; ++page) {
            const fs::path file = jobDir(id) / (std::to_string(page) + ".emf");
            QImage image(QString::fromStdString(file.string()));
            EXPECT_EQ(image.width(), 100 + page * 10) << file;
            EXPECT_FALSE(fs::exists(file.string() + ".enc"));
            EXPECT_FALSE(fs::exists(file.string() + ".tmp"));
        }
    }
}

TEST_F(ProcessorServiceTest, APasswordJobWaitsWithItsPagesAndIsDecryptedWithoutDownloadingAgain) {
    const int id = seedJob({true, "AES", "sender-secret"}, 2);
    checkForJobs();
    ASSERT_TRUE(waitForState(id, {Job::kWaiting, Job::kError}));
    ASSERT_TRUE(waitForState(id, {Job::kWaiting}));
    Job job = snapshot(id);
    EXPECT_FALSE(job.approved());
    EXPECT_EQ(downloads(id), 2);
    EXPECT_TRUE(fs::exists(jobDir(id) / "1.emf.enc"));
    EXPECT_TRUE(Processor::waitsForPassword(job));

    // The sender may print without asking: the job still must not go round the worker again.
    checkForJobs();
    onMain([&] { processor_->dispatchJobs(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(status(id), Job::kWaiting);
    EXPECT_EQ(history(id), (std::vector<int32_t>{Job::kDownloading, Job::kWaiting}));

    // The user gives the password: the key comes from the service, the pages from the disk.
    std::string key;
    std::string error;
    ASSERT_TRUE(inet_.getKey(key, id, "sender-secret", false, error)) << error;
    onMain([&] {
        Job* listed = jobs_->getJob(id);
        listed->setEncryptKey(key);
        listed->setApproved(true);
        processor_->dispatchJobs();
    });
    ASSERT_TRUE(waitForState(id, {Job::kDone, Job::kError}));
    EXPECT_EQ(snapshot(id).status(), Job::kDone) << snapshot(id).error();
    EXPECT_EQ(downloads(id), 2);
}

TEST_F(ProcessorServiceTest, TheServiceKeyIsFetchedOnceAndKeptWhenALaterPageFails) {
    const int id = seedJob({true, "AES0", deployment::jobPassword(nextId_)}, 3);
    // The first two pages pass (a delay alone changes nothing), the third fails.
    service_->addFault(R"([{"match": {"path": "/getPage.aspx"}, "delay": 0.01, "count": 2},
                          {"match": {"path": "/getPage.aspx"}, "status": 500}])");
    checkForJobs();
    ASSERT_TRUE(waitForState(id, {Job::kError}));
    const Job job = snapshot(id);
    EXPECT_EQ(job.error(), "Internal Server Error");
    EXPECT_FALSE(job.encryptKey().empty());
    EXPECT_EQ(soapCalls("GetKey", id), 1);
    // The pages done so far are plain; the failed one left nothing behind.
    EXPECT_TRUE(fs::exists(jobDir(id) / "1.emf"));
    EXPECT_TRUE(fs::exists(jobDir(id) / "2.emf"));
    EXPECT_FALSE(fs::exists(jobDir(id) / "3.emf.enc"));
    EXPECT_FALSE(fs::exists(jobDir(id) / "3.emf.enc.tmp"));
}

TEST_F(ProcessorServiceTest, ServiceFaultsEndTheJobInErrorWithTheirText) {
    struct Case {
        const char* name;
        Sending sending;
        std::string fault;
        std::string error;
        bool filesStay;
    };
    const std::vector<Case> cases = {
        {"page missing",
         {true, "", ""},
         R"({"match": {"path": "/getPage.aspx"}, "status": 404})",
         "Not Found",
         true},
        {"key refused", {true, "AES0", "wrong-password"}, "", "Incorrect password", true},
        {"key store down",
         {true, "AES0", deployment::jobPassword(nextId_ + 2)},
         R"({"match": {"operation": "GetKey"}, "soap_message": "Key store offline"})",
         "Key store offline",
         true},
        {"printed report refused",
         {true, "", ""},
         R"({"match": {"operation": "UpdateJob"}, "soap_message": "No"})",
         "Failed to finalize job",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int id = seedJob(c.sending, 1);
        if (!c.fault.empty())
            service_->addFault(c.fault);
        checkForJobs();
        ASSERT_TRUE(waitForState(id, {Job::kError, Job::kDone}));
        EXPECT_EQ(snapshot(id).error(), c.error);
        EXPECT_EQ(fs::exists(jobDir(id)), c.filesStay);
    }
}

TEST_F(ProcessorServiceTest, PagesThatCannotBeDecodedFailTheirStep) {
    struct Case {
        const char* name;
        std::string page;
        const char* method;
        const char* error;
    };
    // A packed job whose page is no gzip stream, and an encrypted page under a key of another.
    const std::vector<Case> cases = {
        {"not gzip", base64(pngPage(10, 10).toStdString()), "", "Unpacking failed"},
        {"wrong key", base64(std::string(48, 'x')), "AES0", "Decryption failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int id = nextId_++;
        std::string job = "{\"id\": " + std::to_string(id) +
                          R"(, "sender": "alice", "printer": ")" + kPrinterId +
                          R"(", "pack": true, "paper-orientation": "0", "pages": [{"base64": ")" +
                          c.page + "\"}]";
        if (*c.method != '\0')
            job += R"(, "encrypt-method": "AES0", "key": ")" + base64(std::string(32, 'k')) +
                   R"(", "key_password": ")" + deployment::jobPassword(id) + "\"";
        service_->seed("{\"jobs\": [" + job + "}]}");
        checkForJobs();
        ASSERT_TRUE(waitForState(id, {Job::kError, Job::kDone}));
        EXPECT_EQ(snapshot(id).error(), c.error);
        EXPECT_FALSE(fs::exists(jobDir(id) / "1.emf"));
        // The downloaded bytes stay for another attempt, without a new download.
        EXPECT_TRUE(fs::exists(jobDir(id) / "1.emf.enc"));
        EXPECT_FALSE(fs::exists(jobDir(id) / "1.emf.enc.tmp"));
        EXPECT_FALSE(fs::exists(jobDir(id) / "1.emf.tmp"));
    }
}

TEST_F(ProcessorServiceTest, TwoPagesUnderOneNumberFailTheJobRatherThanPrintOneOfThemTwice) {
    const int id = seedJob({true, "", ""}, 2);
    checkForJobs(true, [](std::string& reply) {
        const std::string second = "page-number=\"2\"";
        const size_t at = reply.find(second);
        ASSERT_NE(at, std::string::npos) << reply;
        reply.replace(at, second.size(), "page-number=\"1\"");
    });
    ASSERT_TRUE(waitForState(id, {Job::kError, Job::kDone}));
    EXPECT_EQ(snapshot(id).error(), "Incorrect filename");
    EXPECT_EQ(soapCalls("UpdateJob", id), 0);
}

TEST_F(ProcessorServiceTest, AnUnusableServiceKeyIsNotKeptSoAnotherAttemptAsksAgain) {
    for (const char* key : {"QUJD", "not base64!"}) {
        SCOPED_TRACE(key);
        const int id = nextId_++;
        service_->seed("{\"jobs\": [{\"id\": " + std::to_string(id) +
                       R"(, "sender": "alice", "printer": ")" + kPrinterId +
                       R"(", "pack": false, "paper-orientation": "0", "pages": [{"base64": ")" +
                       base64(std::string(48, 'x')) + R"("}], "encrypt-method": "AES0", "key": ")" +
                       key + R"(", "key_password": ")" + deployment::jobPassword(id) + "\"}]}");
        checkForJobs();
        ASSERT_TRUE(waitForState(id, {Job::kError, Job::kDone}));
        EXPECT_EQ(snapshot(id).error(), "Decryption failed");
        // The user prints it again: the service is asked again, not the unusable key reused.
        onMain([&] {
            processor_->setStatus(Job::kWaiting, Job::Origin::kService, id);
            processor_->dispatchJobs();
        });
        ASSERT_TRUE(waitForState(id, {Job::kError, Job::kDone}));
        EXPECT_EQ(soapCalls("GetKey", id), 2);
        EXPECT_EQ(downloads(id), 1);
    }
}

TEST_F(ProcessorServiceTest, AnUnreadablePageOrACancelledPanelKeepsTheJobAndItsFiles) {
    const int unreadable = nextId_++;
    service_->seed(
        "{\"jobs\": [{\"id\": " + std::to_string(unreadable) +
        R"(, "sender": "alice", "printer": ")" + kPrinterId +
        R"(", "pack": false, "paper-orientation": "0", "pages": [{"text": "no image"}]}]})");
    checkForJobs();
    ASSERT_TRUE(waitForState(unreadable, {Job::kError, Job::kDone}));
    EXPECT_EQ(snapshot(unreadable).error(), "Job was not printed");
    EXPECT_TRUE(fs::exists(jobDir(unreadable) / "1.emf"));
    EXPECT_EQ(soapCalls("UpdateJob", unreadable), 0);

    panelAnswer_ = false;
    // Asked for, so that the job waits until it asks for the panel and no worker copies it first.
    setPermission(Permission::kAsk);
    const int cancelled = seedJob({true, "", ""}, 1);
    checkForJobs();
    onMain([&] {
        Job* job = jobs_->getJob(cancelled);
        job->setShowDialog(true);
        job->setApproved(true);
        processor_->dispatchJobs();
    });
    ASSERT_TRUE(waitForState(cancelled, {Job::kError, Job::kDone}));
    EXPECT_EQ(snapshot(cancelled).error(), "Job was not printed");
    EXPECT_EQ(panelShown_, 1);
    EXPECT_TRUE(fs::exists(jobDir(cancelled) / "1.emf"));
    EXPECT_EQ(soapCalls("UpdateJob", cancelled), 0);
}

TEST_F(ProcessorServiceTest, ADirectJobWithItsPagesInPlaceIsPrintedWithoutTheService) {
    int id = 0;
    onMain([&] {
        pugi::xml_document document;
        pugi::xml_node data = document.append_child("data");
        JobData description;
        description.setFormat("A4");
        description.setCopies(1);
        description.setPrinterId(kPrinterId);
        description.setTitle("Nearby");
        description.getXml(data);
        id = jobs_->startReceivingPtpJob(data).value_or(0);
        for (int page = 1; page <= 2; ++page) {
            const std::string path = jobs_->receiveDirectPage(page, id).value_or("");
            fs::create_directories(fs::path(path).parent_path());
            QImage image(50, 70, QImage::Format_RGB32);
            image.fill(Qt::black);
            image.save(QString::fromStdString(path), "PNG");
        }
    });
    ASSERT_GT(id, 0);
    const int before =
        static_cast<int>(service_->requests("soap").size() + service_->requests("download").size());
    onMain([&] { jobs_->directJobReceived(id); });
    ASSERT_TRUE(waitForState(id, {Job::kDone, Job::kError}, Job::Origin::kDirect));
    EXPECT_EQ(snapshot(id, Job::Origin::kDirect).error(), "");
    EXPECT_EQ(
        static_cast<int>(service_->requests("soap").size() + service_->requests("download").size()),
        before);
}

TEST_F(ProcessorServiceTest, BlockRejectsAtEveryDispatchAndReportsOnlyServiceJobs) {
    setPermission(Permission::kBlock);
    const int id = seedJob({true, "", ""}, 1);
    checkForJobs();
    ASSERT_TRUE(waitForState(id, {Job::kRejected}));
    EXPECT_EQ(soapCalls("UpdateJob", id), 1);
    onMain([&] { processor_->dispatchJobs(); });
    EXPECT_EQ(status(id), Job::kRejected);
    EXPECT_EQ(soapCalls("UpdateJob", id), 2);
    EXPECT_EQ(downloads(id), 0);
    EXPECT_FALSE(fs::exists(jobDir(id)));
}

TEST_F(ProcessorServiceTest, ADispatchWhileAJobIsInAWorkerQueuesNothingMore) {
    const int id = seedJob({true, "", ""}, 1);
    service_->addFault(R"({"match": {"path": "/getPage.aspx"}, "delay": 1.5})");
    checkForJobs();
    ASSERT_NO_FATAL_FAILURE(waitUntilFaultsTaken());
    ASSERT_EQ(status(id), Job::kDownloading);
    for (int i = 0; i < 5; ++i) {
        checkForJobs();
        onMain([&] { processor_->dispatchJobs(); });
    }
    ASSERT_TRUE(waitForState(id, {Job::kDone, Job::kError}));
    EXPECT_EQ(status(id), Job::kDone);
    EXPECT_EQ(downloads(id), 1);
    EXPECT_EQ(soapCalls("UpdateJob", id), 1);
    EXPECT_EQ(history(id),
              (std::vector<int32_t>{Job::kDownloading, Job::kReady, Job::kPrinting, Job::kDone}));
}

TEST_F(ProcessorServiceTest, ABlockDuringADownloadWaitsForTheCopyAndWins) {
    const int id = seedJob({true, "", ""}, 1);
    service_->addFault(R"({"match": {"path": "/getPage.aspx"}, "delay": 1.5})");
    checkForJobs();
    ASSERT_NO_FATAL_FAILURE(waitUntilFaultsTaken());
    // A second job waits in the queue behind the one the worker is downloading.
    const int queued = seedJob({true, "", ""}, 1);
    checkForJobs();
    ASSERT_EQ(status(id), Job::kDownloading);
    ASSERT_EQ(status(queued), Job::kDownloading);
    setPermission(Permission::kBlock);
    onMain([&] { processor_->dispatchJobs(); });
    // The folder the worker writes into is still there, and the job not yet rejected; the job
    // that no worker had started on is rejected at once.
    EXPECT_EQ(status(id), Job::kDownloading);
    EXPECT_EQ(soapCalls("UpdateJob", id), 0);
    EXPECT_EQ(status(queued), Job::kRejected);
    ASSERT_TRUE(waitForState(id, {Job::kRejected, Job::kReady, Job::kDone}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(status(id), Job::kRejected);
    EXPECT_FALSE(fs::exists(jobDir(id)));
    const auto states = history(id);
    EXPECT_EQ(std::count(states.begin(), states.end(), Job::kReady), 0);
    EXPECT_EQ(std::count(states.begin(), states.end(), Job::kDone), 0);
    EXPECT_EQ(downloads(queued), 0);
}

TEST_F(ProcessorServiceTest, AFullMergeDuringADownloadNeverQueuesTheJobTwice) {
    const int id = seedJob({true, "", ""}, 1);
    service_->addFault(R"({"match": {"path": "/getPage.aspx"}, "delay": 1.5})");
    checkForJobs();
    ASSERT_NO_FATAL_FAILURE(waitUntilFaultsTaken());
    ASSERT_EQ(status(id), Job::kDownloading);
    // A new sign-in replaces the list: the job comes back as a new, waiting job.
    checkForJobs(false);
    EXPECT_EQ(status(id), Job::kWaiting);
    ASSERT_TRUE(waitForState(id, {Job::kDone, Job::kError}));
    EXPECT_EQ(status(id), Job::kDone) << snapshot(id).error();
    EXPECT_EQ(soapCalls("UpdateJob", id), 1);
}

}  // namespace
}  // namespace velmora::console
