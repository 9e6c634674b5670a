#pragma once

#include "core/config/AtomicString.h"
#include "core/model/JobData.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

namespace velmora::console {

// One incoming print job: its description plus what this computer did with it so far.
//
// Whether a job came from the service or straight from a nearby client is fixed when the job is
// created and never read back from the sender's id: the service must not be able to turn its
// job into a direct one (or the reverse) by what it writes into the job element.
class Job : public JobData {
  public:
    enum Status : int32_t {
        kWaiting = 0,
        kDownloading = 1,
        kReady = 2,
        kPrinting = 3,
        kDone = 4,
        kError = 5,
        kRejected = 6,
        kUploading = 7,
    };
    enum class Origin { kService, kDirect };

    // Page files of service jobs live in "Job<id>", those of direct jobs in "DirectJob<id>";
    // the two id ranges overlap, the folders never do.
    static constexpr const char* kServiceFolderPrefix = "Job";
    static constexpr const char* kDirectFolderPrefix = "DirectJob";

    Job() = default;
    Job(Origin origin, std::filesystem::path profileDir);

    // The copy a worker thread works on: every description field but `notify` (the sender object
    // is shared), the state, error, approval, dialog flag, key and the pages; `isNew` is false.
    static Job initWithJob(const Job& job);

    // "Waiting", "Downloading", ... ; "" for a state outside the table.
    std::string getTextStatus() const;
    // The start time for display: the time alone for a job started today (local time), the
    // date alone otherwise; `now` when the start text is not 12 characters long.
    std::string getTextStarted() const;
    std::string getTextStarted(std::chrono::system_clock::time_point now) const;

    // Empty when the job has no profile folder (the user or profile name could not name one).
    std::filesystem::path getJobDir() const;
    // The page's plain file (or, with `encoded`, the file as downloaded when the job is packed
    // or encrypted); "" for an index outside the page list or without a job folder.
    std::string getFileNameForPage(int index, bool encoded) const;
    // The plain file of a page that a nearby client hands over; the page is listed when it is
    // not yet. "" when the job already holds kMaxDirectPages pages, the number is below 1 or
    // the job has no folder.
    std::string receiveDirectPage(int number);

    bool isPTP() const { return origin_ == Origin::kDirect; }
    Origin origin() const { return origin_; }
    const std::filesystem::path& profileDir() const { return profileDir_; }

    int32_t status() const { return status_; }
    void setStatus(int32_t status) { status_ = status; }
    std::string error() const { return error_.get(); }
    void setError(std::string error) { error_.set(std::move(error)); }
    bool isNew() const { return isNew_; }
    void setIsNew(bool isNew) { isNew_ = isNew; }
    bool approved() const { return approved_; }
    void setApproved(bool approved) { approved_ = approved; }
    bool showDialog() const { return showDialog_; }
    void setShowDialog(bool showDialog) { showDialog_ = showDialog; }
    std::string encryptKey() const { return encryptKey_.get(); }
    void setEncryptKey(std::string key) { encryptKey_.set(std::move(key)); }

    // A nearby client cannot make a job larger than this.
    static constexpr int kMaxDirectPages = 10000;

  private:
    Origin origin_ = Origin::kService;
    std::filesystem::path profileDir_;
    int32_t status_ = kWaiting;
    AtomicString error_;
    bool isNew_ = false;
    bool approved_ = false;
    bool showDialog_ = false;
    AtomicString encryptKey_;
};

}  // namespace velmora::console
