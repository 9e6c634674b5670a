#include "sender/Sender.h"

#include <algorithm>
#include <cstdint>
#include <system_error>

#include <fmt/format.h>

#include "core/Deployment.h"
#include "core/crypto/JobFileCipher.h"
#include "core/model/PrinterMasks.h"
#include "core/xml/XmlHelpers.h"
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

bool endsWithExtension(std::string_view name, std::string_view extension) {
    if (name.size() < extension.size() + 1)
        return false;
    std::string_view tail = name.substr(name.size() - extension.size());
    if (name[name.size() - extension.size() - 1] != '.')
        return false;
    return std::equal(tail.begin(), tail.end(), extension.begin(), extension.end(),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

// The last component of a path, ignoring closing slashes ("/var/spool/57/" gives "57").
std::string lastPathComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Removes what a failed step left; the message already says what went wrong.
void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

bool replaceWith(const fs::path& from, const fs::path& to, std::string& reason) {
    std::error_code ec;
    fs::remove(to, ec);
    if (!ec)
        fs::rename(from, to, ec);
    if (ec)
        reason = ec.message();
    return !ec;
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
        if (endsWithExtension(name, extension))
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
    message = fmt::format("{}/phTitsuccessfully sent for printing on {}", job_.title(),
                          printer->shareTitle());
    return true;
}

void Sender::run() {
    std::string message;
    try {
        runInternal(message);
    } catch (const std::exception& exception) {
        // The user must hear of the job either way; the exit status cannot tell anyone.
        message = fmt::format("Printing error: {}", exception.what());
    }
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
    std::string error;
    if (!writeFileAtomically(path, message, error, 0644))
        logger_.error("Cannot write {}: {}", path.string(), error);
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
        if (!removeFlatDirectory(jobDir_))
            logger_.error("Cannot remove the spool directory {}", jobDir_);
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
    const std::vector<std::string> names = sortedFilesFrom(jobDir_, "bmp");
    if (names.empty()) {
        error = fmt::format("No page files found in {}", jobDir_);
        return false;
    }
    for (const std::string& name : names) {
        if (!preparePage(name, key, error))
            return false;
        ++pageCount;
        logger_.notice("page count increased to {}", pageCount);
    }
    return true;
}

bool Sender::preparePage(const std::string& name, std::span<const uint8_t> key,
                         std::string& error) {
    const fs::path source = fs::path(jobDir_) / name;
    const PageFiles files{source, fs::path(source.string() + ".enc"),
                          fs::path(source.string() + ".tmp")};
    logger_.notice("processing file: {}", name);
    logger_.notice("srcFile: {} encFile: {} tempFile: {}", files.source.string(),
                   files.prepared.string(), files.temporary.string());
    logger_.notice("copying {} to {}", files.source.string(), files.prepared.string());
    std::error_code ec;
    // A prepared page left by an earlier attempt is never overwritten.
    fs::copy_file(files.source, files.prepared, fs::copy_options::none, ec);
    if (ec) {
        logger_.error("copy failed: {}", ec.message());
        error =
            fmt::format("Failed to copy {} to {}", files.source.string(), files.prepared.string());
        return false;
    }
    if (job_.packed()) {
        logger_.notice("zipping...");
        if (!packPage(files, error))
            return false;
    } else {
        logger_.notice("skip zipping (job.packed is false)");
    }
    const int mode = job_.encryption();
    if (mode == kEncryptionAes || mode == kEncryptionAes0) {
        logger_.notice("encrypting...");
        if (!encryptPage(files, key, error))
            return false;
    } else {
        logger_.notice("skip encryption (job.encryption is {})", mode);
    }
    const std::uintmax_t size = fs::file_size(files.prepared, ec);
    if (ec || size > static_cast<std::uintmax_t>(SenderInetProvider::kMaxPageBytes)) {
        error = ec ? fmt::format("Cannot read the size of {}: {}", files.prepared.string(),
                                 ec.message())
                   : fmt::format(
                         "The prepared page {} is too large to send ({} bytes; page "
                         "uploads allow at most {} bytes)",
                         files.prepared.string(), size, SenderInetProvider::kMaxPageBytes);
        return false;
    }
    return true;
}

bool Sender::packPage(const PageFiles& files, std::string& error) {
    std::string reason;
    if (!GzipPacker::pack(files.prepared, files.temporary, reason) ||
        !replaceWith(files.temporary, files.prepared, reason)) {
        logger_.error("zip failed: {}", reason);
        removeQuietly(files.temporary);
        error = fmt::format("Failed to zip {} to {}", files.prepared.string(),
                            files.temporary.string());
        return false;
    }
    return true;
}

bool Sender::encryptPage(const PageFiles& files, std::span<const uint8_t> key, std::string& error) {
    std::string reason;
    if (!encryptJobFile(files.prepared, files.temporary, key, reason) ||
        !replaceWith(files.temporary, files.prepared, reason)) {
        logger_.error("encryption failed: {}", reason);
        removeQuietly(files.temporary);
        error = fmt::format("Failed to encrypt {} to {}", files.prepared.string(),
                            files.temporary.string());
        return false;
    }
    return true;
}

bool Sender::uploadPages(int jobId, std::optional<DirectAddress> direct,
                         const std::string& serverUrl, int pageCount, std::string& error) {
    const std::vector<std::string> names = sortedFilesFrom(jobDir_, "enc");
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
        const fs::path path = fs::path(jobDir_) / name;
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
