#pragma once

#include <memory>
#include <string>

#include "core/Deployment.h"
#include "tests/sender/SenderFixture.h"
#include "tests/support/RefServiceProcess.h"

namespace velmora::test {

// Alice may print on Bob's printer "Office"; her setup points at the reference service.
inline std::string serviceSeed() {
    return std::string(R"({
  "accounts": [
    {"login": "alice", "password": "pw", "token": "tok-alice",
     "favorites": [")") +
           kPrinterId + R"("], "default_printer": ")" + kPrinterId + R"("},
    {"login": "bob", "password": "pw", "token": "tok-bob"}
  ],
  "printers": [
    {"public_id": ")" +
           kPrinterId + R"(", "owner": "bob", "title": "Office", "location": "Hall",
     "shared": true, "online": true, "details": true,
     "capabilities": {"pack": "true", "enc-type": "AES,AES0", "transport": "bmp",
                      "collate": "1", "duplex": "1", "copies": "10"},
     "papers": [{"name": "Letter", "format": "Letter", "width": 2159, "height": 2794},
                {"name": "Custom", "format": "Custom", "width": 0, "height": 0,
                 "custom": "true"}]}
  ]
})";
}

// One reference service per test suite, back at its seed before every test.
class ServiceFixture : public SenderFixture {
  protected:
    static void SetUpTestSuite() {
        suiteScratch_ = std::make_unique<ScratchDirectory>("velmora-refservice");
        const auto seed = suiteScratch_->path() / "seed.json";
        ScratchDirectory::writeFile(seed, serviceSeed());
        service_ = std::make_unique<RefServiceProcess>(
            seed,
            std::vector<std::string>{"--job-password-prefix",
                                     std::string(deployment::kJobPasswordPrefix)},
            suiteScratch_->path() / "service.log");
    }
    static void TearDownTestSuite() {
        service_.reset();
        suiteScratch_.reset();
    }
    void SetUp() override {
        SenderFixture::SetUp();
        service_->post("/_ref/reset", "");
        setup_.service = service_->serviceUrl();
        writeSetup(setup_);
    }

    // Runs a whole job in this process and returns the message file's text.
    std::string runSender(OptionsList::Map extra = {}) {
        Sender sender(options(std::move(extra)), systemDir());
        sender.run();
        return message();
    }

    static RefServiceProcess::Tree onlyJob() {
        auto jobs = RefServiceProcess::jobs(service_->state());
        if (jobs.size() != 1)
            throw std::runtime_error("expected one job, found " + std::to_string(jobs.size()));
        return jobs.front();
    }
    static std::string successMessage() {
        return std::string("Report/phTitsuccessfully sent for printing on ") + kPrinterTitle;
    }

    Setup setup_;
    static inline std::unique_ptr<ScratchDirectory> suiteScratch_;
    static inline std::unique_ptr<RefServiceProcess> service_;
};

}  // namespace velmora::test
