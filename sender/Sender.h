#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/account/Person.h"
#include "core/model/JobData.h"
#include "core/model/RemotePrinterArray.h"
#include "platform/Logger.h"
#include "platform/UniqueFd.h"
#include "sender/DirectAddress.h"
#include "sender/OptionsList.h"
#include "sender/SenderConfig.h"
#include "sender/SenderInetProvider.h"
#include "sender/SpoolFolder.h"

namespace velmora {

// One run of the job sender: reads the job's options, signs in with the user's saved token,
// finds the remote printer, delivers the spool directory's pages and leaves the outcome in the
// user's message file. One object per process.
class Sender {
  public:
    static constexpr std::string_view kNotLoggedMessage =
        "Printing error, You are not logged. Please Login in Velmora again.";
    static constexpr std::string_view kNoPrinterMessage =
        "Default remote printer not configured or invalid";
    static constexpr std::string_view kQueuePrefix = "Velmora_";

    // `systemDir` is the shared folder holding the setup and message files; the program passes
    // the compiled-in one.
    explicit Sender(const OptionsList& options,
                    std::filesystem::path systemDir = Config::defaultSystemDir());
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    // Names of the directory's files ending in "." + `extension` (any case), in page order.
    static std::vector<std::string> sortedFilesFrom(const std::filesystem::path& directory,
                                                    std::string_view extension);

    // Prepares and uploads every page; `directUrl` may be empty.
    bool sendPages(int jobId, const std::string& directUrl, const std::string& serverUrl,
                   int& pageCount, std::string& error);
    // Announces, delivers and completes the job; a failed delivery cancels it at the service.
    bool send(std::string& error);
    // The whole job; the message for the user either way.
    bool runInternal(std::string& message);
    // runInternal() and the message file.
    void run();

    const JobData& job() const { return job_; }
    JobData& job() { return job_; }
    void setJob(JobData job) { job_ = std::move(job); }
    const std::string& jobDir() const { return jobDir_; }
    void setJobDir(std::string jobDir) { jobDir_ = std::move(jobDir); }
    const std::string& userName() const { return userName_; }
    void setUserName(std::string userName) { userName_ = std::move(userName); }

    SenderConfig& config() { return config_; }
    SenderInetProvider& inetProvider() { return inetProvider_; }
    RemotePrinterArray& remotePrinters() { return remotePrinters_; }
    const Person& currentUser() const { return currentUser_; }

    // A message file holds at most this many bytes of text.
    static constexpr size_t kMaxMessageBytes = 2048;

  private:
    void fillJobFromOptions(const OptionsList& options);
    std::shared_ptr<RemotePrinter> printerForQueue(std::string_view queueName) const;
    std::shared_ptr<RemotePrinter> findDestinationPrinter();
    void fillJob(const RemotePrinter& printer);
    void logJob() const;
    void showNotLoggedAlert() const;
    void writeMessageFile(const std::string& message) const;
    bool openSpoolFolder(std::string& error);
    void removeJobFiles();

    std::optional<DirectAddress> probeDirectAddress(int jobId, const std::string& directUrl);
    bool requestKey(int jobId, std::vector<uint8_t>& key, std::string& error);
    bool preparePages(std::span<const uint8_t> key, int& pageCount, std::string& error);
    bool preparePage(const std::string& name, std::span<const uint8_t> key, std::string& error);
    UniqueFd copyPage(const std::string& name, const std::string& prepared,
                      std::string& reason) const;
    bool packPage(UniqueFd& content, const std::string& prepared, const std::string& temporary,
                  std::string& error);
    bool encryptPage(UniqueFd& content, const std::string& prepared, const std::string& temporary,
                     std::span<const uint8_t> key, std::string& error);
    bool uploadPages(int jobId, std::optional<DirectAddress> direct, const std::string& serverUrl,
                     int pageCount, std::string& error);

    Logger logger_;
    SenderConfig config_;
    Person currentUser_;
    RemotePrinterArray remotePrinters_;
    SenderInetProvider inetProvider_;
    JobData job_;
    std::string jobDir_;
    std::string userName_;
    std::string destinationPrinterId_;
    std::string spoolDir_;
    // Held open from the check on, so that the pages and the sender's own files are always
    // those of the folder that was checked.
    std::optional<SpoolFolder> spool_;
    // The page files read for this job; with their prepared copies, what completion removes.
    std::vector<std::string> pageNames_;
};

}  // namespace velmora
