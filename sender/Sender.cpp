#include "sender/Sender.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

#include <fmt/format.h>

#include "core/Deployment.h"
#include "core/config/TextFile.h"
#include "core/crypto/JobFileCipher.h"
#include "core/model/PrinterMasks.h"
#include "core/xml/XmlHelpers.h"
#include "platform/FileIo.h"
#include "sender/CupsJobList.h"
#include "sender/GzipPacker.h"
#include "sender/NumericAwareOrder.h"
#include "sender/ServiceUrl.h"

namespace velmora {

namespace fs = std::filesystem;

namespace {

constexpr const char* kOptionSpoolDir = "SpoolDir";
constexpr const char* kOptionUser = "User";
constexpr const char* kOptionDestination = "DestinationPrinterID";
constexpr const char* kOptionTitle = "com.apple.print.JobInfo.PMJobName";
constexpr const char* kOptionMedia = "media";
constexpr const char* kOptionInputSlot = "InputSlot";
constexpr const char* kOptionCopies = "com.apple.print.PrintSettings.PMCopies..n.";
constexpr const char* kOptionCollate = "com.apple.print.PrintSettings.PMCopyCollate..b.";
constexpr const char* kOptionDuplex = "Duplex";
constexpr const char* kUntitled = "Untitled document";

// The last component of a path, ignoring closing slashes ("/var/spool/57/" gives "57").
std::string lastPathComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string describeErrno(const char* what, const fs::path& path) {
    return fmt::format("{} {}: {}", what, path.string(), std::strerror(errno));
}

constexpr std::string_view kTitleMarker = "/phTit";

// The text with every title marker in it shown as text, so that it cannot split a message where
// the sender did not.
std::string withoutTitleMarker(std::string text) {
    for (size_t at = text.find(kTitleMarker); at != std::string::npos;
         at = text.find(kTitleMarker, at + 2)) {
        text.insert(at + 1, " ");
    }
    return text;
}

// The message goes to a file the console shows and then deletes; a service's error text can be
// anything. A failed job has no title, so a title marker in its text is shown as text.
std::string messageForFile(std::string_view message, bool delivered) {
    std::string text = toValidUtf8(message);
    if (!delivered)
        text = withoutTitleMarker(std::move(text));
    return truncateUtf8(std::move(text), Sender::kMaxMessageBytes);
}

}  // namespace

Sender::Sender(const OptionsList& options, fs::path systemDir)
    : logger_(std::string(deployment::kLogSubsystem), "sender"),
      config_(std::move(systemDir)),
      inetProvider_(config_, currentUser_, remotePrinters_) {
    logger_.notice("Sender init with options:");
    for (const auto& [key, value] : options.values())
        logger_.notice("Sender option {} = {}", key, value);
    jobDir_ = options.valueOrEmpty(kOptionSpoolDir);
    userName_ = options.valueOrEmpty(kOptionUser);
    destinationPrinterId_ = options.valueOrEmpty(kOptionDestination);
    spoolDir_ = jobDir_;
    fillJobFromOptions(options);
}

void Sender::fillJobFromOptions(const OptionsList& options) {
    job_.setTitle(options.valueOrEmpty(kOptionTitle));
    job_.setFormat(options.valueOrEmpty(kOptionMedia));
    job_.setBin(options.valueOrEmpty(kOptionInputSlot));
    const int copies = intFromText(options.valueOrEmpty(kOptionCopies));
    job_.setCopies(copies > 0 ? copies : 1);
    // The print dialog sends the key only when collation is on, whatever its value says.
    job_.setCollate(options.contains(kOptionCollate));
    job_.setDuplex(0);
    const std::string duplex = options.valueOrEmpty(kOptionDuplex);
    if (duplex == "None") {
        job_.setDuplex(0);
    } else if (duplex == "DuplexTumble") {
        job_.setDuplex(1);
    } else if (duplex == "DuplexNoTumble") {
        job_.setDuplex(2);
    }
}

std::vector<std::string> Sender::sortedFilesFrom(const fs::path& directory,
                                                 std::string_view extension) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(directory, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (SpoolFolder::hasExtension(name, extension))
            names.push_back(std::move(name));
    }
    if (ec) {
        Logger(std::string(deployment::kLogSubsystem), "sender")
            .error("Error reading directory contents at path {}: {}", directory.string(),
                   ec.message());
        return {};
    }
    std::sort(names.begin(), names.end(), NumericAwareOrder());
    return names;
}

std::shared_ptr<RemotePrinter> Sender::printerForQueue(std::string_view queueName) const {
    const size_t prefix = queueName.find(kQueuePrefix);
    if (prefix == std::string_view::npos)
        return nullptr;
    std::string_view publicId = queueName.substr(prefix + kQueuePrefix.size());
    // The piece between the prefix and any later occurrence of it.
    publicId = publicId.substr(0, publicId.find(kQueuePrefix));
    if (publicId.empty())
        return nullptr;
    return remotePrinters_.getPrinter(publicId);
}

std::shared_ptr<RemotePrinter> Sender::findDestinationPrinter() {
    if (std::shared_ptr<RemotePrinter> printer = printerForQueue(destinationPrinterId_)) {
        job_.setCopies(1);
        return printer;
    }
    const int currentJobId = intFromText(lastPathComponent(spoolDir_));
    std::string cupsError;
    const std::vector<CupsJobList::Job> jobs = CupsJobList::activeJobs(cupsError);
    if (!cupsError.empty())
        logger_.error("Cannot list the print system's jobs: {}", cupsError);
    logger_.notice("number of active jobs: {}", jobs.size());
    std::shared_ptr<RemotePrinter> printer;
    for (const CupsJobList::Job& job : jobs) {
        logger_.notice("printer: {} title: {} jobID: {} currentJobID: {}", job.queue, job.title,
                       job.id, currentJobId);
        if (job.id == currentJobId)
            printer = printerForQueue(job.queue);
    }
    return printer;
}

void Sender::fillJob(const RemotePrinter& printer) {
    job_.setPrinterId(printer.publicId());
    job_.setTransport(kTransportBmp);
    job_.setPacked(true);
    // Only the two methods the sender performs may be announced; any other value would tell the
    // printer to decrypt pages that were never encrypted.
    const int encryption = config_.encryption();
    job_.setEncryption(encryption == kEncryptionAes || encryption == kEncryptionAes0 ? encryption
                                                                                     : 0);
    job_.setNotify(config_.notifyOnCompletion());
    if (job_.title().empty())
        job_.setTitle(kUntitled);
    if (job_.format().empty())
        job_.setFormat(config_.defaultPaperFormat());
    const Paper* paper = printer.papers().getPaper(job_.format());
    if (paper != nullptr && paper->custom()) {
        job_.setCustomWidth(config_.customPaperWidth());
        job_.setCustomHeight(config_.customPaperHeight());
    }
}

void Sender::logJob() const {
    logger_.notice("title: {}", job_.title());
    logger_.notice("format: {}", job_.format());
    logger_.notice("custom width: {}", job_.customWidth());
    logger_.notice("custom height: {}", job_.customHeight());
    logger_.notice("orientation: {}",
                   job_.orientation() == JobData::kPortrait ? "portrait" : "landscape");
    logger_.notice("bin: {}", job_.bin());
    logger_.notice("copies: {}", job_.copies());
    logger_.notice("duplex: {}", job_.duplex());
    logger_.notice("collate: {}", job_.collate() ? 1 : 0);
    logger_.notice("encryption: {}", job_.encryption());
}

void Sender::showNotLoggedAlert() const {
    // The print backend starts the sender outside every desktop session, so there is no screen
    // to raise an alert on; the console shows the message file instead.
    logger_.notice("Alert \"Printing error\" not shown: the sender has no desktop session");
}

bool Sender::runInternal(std::string& message) {
    logger_.notice("Sender started");
    if (jobDir_.empty()) {
        message = "No SpoolDir argument";
        return false;
    }
    if (userName_.empty()) {
        message = "No User argument";
        return false;
    }
    logger_.notice("user: {}", userName_);

    std::string error;
    if (!openSpoolFolder(error)) {
        message = error;
        return false;
    }
    const bool loaded = config_.loadSetup(userName_, error);
    if (!loaded)
        logger_.error("Cannot load the setup of {}: {}", userName_, error);
    if (!loaded || config_.token().empty()) {
        message = kNotLoggedMessage;
        showNotLoggedAlert();
        return false;
    }
    if (!inetProvider_.loginWithToken(error)) {
        logger_.error("Login with token Error");
        message = error;
        return false;
    }
    const std::shared_ptr<RemotePrinter> printer = findDestinationPrinter();
    if (!printer) {
        message = kNoPrinterMessage;
        return false;
    }
    fillJob(*printer);
    logJob();
    if (!send(error)) {
        message = error;
        return false;
    }
    // The document's title and the printer's name come from others (a printed web page names
    // itself); only the sender's own marker may split the message, and a long title must not
    // push the marker and the sender's words out of the bounded message.
    const std::string title =
        truncateUtf8(withoutTitleMarker(toValidUtf8(job_.title())), kMaxMessageBytes / 2);
    message = fmt::format("{}{}successfully sent for printing on {}", title, kTitleMarker,
                          withoutTitleMarker(printer->shareTitle()));
    return true;
}

void Sender::run() {
    std::string message;
    bool delivered = false;
    try {
        delivered = runInternal(message);
    } catch (const std::exception& exception) {
        // The user must hear of the job either way; the exit status cannot tell anyone.
        message = fmt::format("Printing error: {}", exception.what());
    }
    message = messageForFile(message, delivered);
    logger_.notice("{}", message);
    if (!userName_.empty() && !message.empty())
        writeMessageFile(message);
}

void Sender::writeMessageFile(const std::string& message) const {
    const fs::path path = config_.getMessageFileNameForUser(userName_);
    if (path.empty()) {
        logger_.error("No message file for the user name {}", userName_);
        return;
    }
    // Only the user may read it. Run as root, the sender hands it to the user; run as some
    // other account, it could neither do that nor let the user read it.
    FileOwner owner;
    if (const std::optional<Config::Account> account = Config::lookUpAccount(userName_)) {
        if (::geteuid() == 0) {
            owner = {account->uid, account->gid};
        } else if (::geteuid() != account->uid) {
            logger_.error("Cannot write {}: the sender does not run as {}", path.string(),
                          userName_);
            return;
        }
    }
    std::string error;
    if (!writeFileAtomically(path, message, error, 0600, owner))
        logger_.error("Cannot write {}: {}", path.string(), error);
}

bool Sender::openSpoolFolder(std::string& error) {
    if (spool_)
        return true;
    spool_ = SpoolFolder::open(jobDir_, error);
    if (!spool_)
        logger_.error("{}", error);
    return spool_.has_value();
}

void Sender::removeJobFiles() {
    for (const std::string& name : pageNames_) {
        spool_->remove(name);
        spool_->remove(name + ".enc");
    }
    std::string error;
    if (!spool_->removeIfEmpty(error))
        logger_.error("Cannot remove the spool directory {}: {}", jobDir_, error);
}

bool Sender::send(std::string& error) {
    std::string directUrl;
    std::string serverUrl;
    if (!inetProvider_.prePostJob(job_, directUrl, serverUrl, error))
        return false;
    const int jobId = job_.serverId();
    logger_.notice("Posting job {} to {}", jobId, serverUrl);

    int pageCount = 0;
    if (sendPages(jobId, directUrl, serverUrl, pageCount, error)) {
        if (!inetProvider_.finishJob(jobId, pageCount, error))
            return false;
        removeJobFiles();
        return true;
    }
    logger_.error("Delivery error, job cancelled. Error: {}", error);
    std::string cancelError;
    if (!inetProvider_.changeJob(jobId, -1, cancelError))
        error = cancelError;
    return false;
}

bool Sender::sendPages(int jobId, const std::string& directUrl, const std::string& serverUrl,
                       int& pageCount, std::string& error) {
    if (!openSpoolFolder(error))
        return false;
    // The upload address comes from the network; nothing is sent to anything but a web server.
    if (!ServiceUrl::isHttpUrl(serverUrl)) {
        error = fmt::format("The service named no valid upload address (\"{}\")", serverUrl);
        return false;
    }
    std::optional<DirectAddress> direct = probeDirectAddress(jobId, directUrl);
    std::vector<uint8_t> key;
    if (!requestKey(jobId, key, error))
        return false;
    pageCount = 0;
    if (!preparePages(key, pageCount, error))
        return false;
    return uploadPages(jobId, std::move(direct), serverUrl, pageCount, error);
}

std::optional<DirectAddress> Sender::probeDirectAddress(int jobId, const std::string& directUrl) {
    if (directUrl.empty())
        return std::nullopt;
    std::optional<DirectAddress> direct = DirectAddress::parse(directUrl);
    if (!direct) {
        logger_.error("direct error: {}", fmt::format("Invalid direct address \"{}\"", directUrl));
        return std::nullopt;
    }
    std::string error;
    if (!inetProvider_.probeDirect(direct->url("/hello"), jobId, error)) {
        logger_.error("direct error: {}", error);
        return std::nullopt;
    }
    return direct;
}

bool Sender::requestKey(int jobId, std::vector<uint8_t>& key, std::string& error) {
    const int mode = job_.encryption();
    if (mode != kEncryptionAes && mode != kEncryptionAes0)
        return true;
    const std::string password =
        mode == kEncryptionAes ? config_.encryptionPassword() : deployment::jobPassword(jobId);
    std::string keyText;
    if (!inetProvider_.getKey(keyText, jobId, password, true, error))
        return false;
    std::optional<std::vector<uint8_t>> decoded = dataWithBase64EncodedString(keyText);
    if (!decoded || decoded->size() < kJobFileKeySize) {
        error = "The service sent no usable job key";
        return false;
    }
    key = std::move(*decoded);
    return true;
}

bool Sender::preparePages(std::span<const uint8_t> key, int& pageCount, std::string& error) {
    std::string reason;
    if (!spool_->filesWithExtension("bmp", pageNames_, reason))
        logger_.error("Error reading directory contents at path {}: {}", jobDir_, reason);
    if (pageNames_.empty()) {
        error = fmt::format("No page files found in {}", jobDir_);
        return false;
    }
    for (const std::string& name : pageNames_) {
        if (!preparePage(name, key, error))
            return false;
        ++pageCount;
        logger_.notice("page count increased to {}", pageCount);
    }
    return true;
}

bool Sender::preparePage(const std::string& name, std::span<const uint8_t> key,
                         std::string& error) {
    const std::string prepared = name + ".enc";
    const std::string temporary = name + ".tmp";
    const std::string sourcePath = spool_->pathOf(name).string();
    const std::string preparedPath = spool_->pathOf(prepared).string();
    logger_.notice("processing file: {}", name);
    logger_.notice("srcFile: {} encFile: {} tempFile: {}", sourcePath, preparedPath,
                   spool_->pathOf(temporary).string());
    logger_.notice("copying {} to {}", sourcePath, preparedPath);
    std::string reason;
    UniqueFd content = copyPage(name, prepared, reason);
    if (!content) {
        logger_.error("copy failed: {}", reason);
        error = fmt::format("Failed to copy {} to {}", sourcePath, preparedPath);
        return false;
    }
    if (job_.packed()) {
        logger_.notice("zipping...");
        if (!packPage(content, prepared, temporary, error))
            return false;
    } else {
        logger_.notice("skip zipping (job.packed is false)");
    }
    const int mode = job_.encryption();
    if (mode == kEncryptionAes || mode == kEncryptionAes0) {
        logger_.notice("encrypting...");
        if (!encryptPage(content, prepared, temporary, key, error))
            return false;
    } else {
        logger_.notice("skip encryption (job.encryption is {})", mode);
    }
    struct stat info {};
    if (::fstat(content.get(), &info) != 0) {
        error = describeErrno("Cannot read the size of", preparedPath);
        return false;
    }
    if (info.st_size > SenderInetProvider::kMaxPageBytes) {
        error = fmt::format(
            "The prepared page {} is too large to send ({} bytes; page uploads allow at most {} "
            "bytes)",
            preparedPath, info.st_size, SenderInetProvider::kMaxPageBytes);
        return false;
    }
    return true;
}

// The page is read through the descriptor that was checked, and its copy is a new file: a
// prepared page from an earlier attempt, or a link planted under its name, stops the job.
UniqueFd Sender::copyPage(const std::string& name, const std::string& prepared,
                          std::string& reason) const {
    const UniqueFd page = spool_->openPage(name, reason);
    if (!page)
        return UniqueFd();
    UniqueFd copy = spool_->createNew(prepared, reason);
    if (!copy)
        return UniqueFd();
    if (!copyFully(page.get(), copy.get())) {
        reason = describeErrno("Cannot copy", spool_->pathOf(name));
        spool_->remove(prepared);
        return UniqueFd();
    }
    return copy;
}

bool Sender::packPage(UniqueFd& content, const std::string& prepared, const std::string& temporary,
                      std::string& error) {
    std::string reason;
    UniqueFd packed = spool_->createNew(temporary, reason);
    bool ok = static_cast<bool>(packed);
    if (ok && ::lseek(content.get(), 0, SEEK_SET) != 0) {
        reason = describeErrno("Cannot rewind", spool_->pathOf(prepared));
        ok = false;
    }
    ok = ok && GzipPacker::pack(content.get(), packed.get(), reason) &&
         spool_->rename(temporary, prepared, reason);
    if (!ok) {
        logger_.error("zip failed: {}", reason);
        // Only a temporary this run made is removed; one that was there before is not ours.
        if (packed)
            spool_->remove(temporary);
        error = fmt::format("Failed to zip {} to {}", spool_->pathOf(prepared).string(),
                            spool_->pathOf(temporary).string());
        return false;
    }
    content = std::move(packed);
    return true;
}

bool Sender::encryptPage(UniqueFd& content, const std::string& prepared,
                         const std::string& temporary, std::span<const uint8_t> key,
                         std::string& error) {
    std::string reason;
    UniqueFd encrypted = spool_->createNew(temporary, reason);
    const bool ok = encrypted && encryptJobFile(content.get(), encrypted.get(), key, reason) &&
                    spool_->rename(temporary, prepared, reason);
    if (!ok) {
        logger_.error("encryption failed: {}", reason);
        if (encrypted)
            spool_->remove(temporary);
        error = fmt::format("Failed to encrypt {} to {}", spool_->pathOf(prepared).string(),
                            spool_->pathOf(temporary).string());
        return false;
    }
    content = std::move(encrypted);
    return true;
}

bool Sender::uploadPages(int jobId, std::optional<DirectAddress> direct,
                         const std::string& serverUrl, int pageCount, std::string& error) {
    std::vector<std::string> names;
    std::string reason;
    if (!spool_->filesWithExtension("enc", names, reason))
        logger_.error("Error reading directory contents at path {}: {}", jobDir_, reason);
    // Counted before anything is sent: a stray prepared page from an earlier attempt could
    // otherwise go out under another page's number.
    if (names.size() > static_cast<size_t>(pageCount)) {
        error = "Page number exceeds calculated count";
        return false;
    }
    if (names.size() < static_cast<size_t>(pageCount)) {
        error = "Page number less than calculated count";
        return false;
    }
    int pageNo = 0;
    for (const std::string& name : names) {
        ++pageNo;
        // The upload opens a path; it is given the held folder's file rather than the spool
        // path, which may name another folder by now.
        const UniqueFd page = spool_->openPage(name, reason);
        if (!page) {
            error = fmt::format("Cannot send page {}: {}", pageNo, reason);
            return false;
        }
        const fs::path path = fmt::format("/proc/self/fd/{}", page.get());
        logger_.notice("posting page {} from file {}", pageNo, name);
        if (direct) {
            const std::string postUrl = direct->url("/post");
            logger_.notice("direct post path: {}", postUrl);
            std::string directError;
            if (inetProvider_.uploadPage(path, jobId, pageNo, pageCount, postUrl, true,
                                         directError)) {
                continue;
            }
            logger_.error("direct error: {}", directError);
            direct.reset();
        }
        logger_.notice("Post to server");
        if (!inetProvider_.uploadPage(path, jobId, pageNo, pageCount, serverUrl, false, error))
            return false;
    }
    return true;
}

}  // namespace velmora
