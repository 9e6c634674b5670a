#include "sender/SenderInetProvider.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "core/Deployment.h"
#include "core/model/JobData.h"
#include "core/model/RemotePrinterArray.h"
#include "core/net/HttpClient.h"
#include "core/net/SoapData.h"
#include "core/xml/XmlHelpers.h"
#include "platform/FileIo.h"
#include "platform/UniqueFd.h"
#include "sender/SenderConfig.h"
#include "sender/ServiceUrl.h"

namespace velmora {

namespace {

const Logger& senderLog() {
    static const Logger log(std::string(deployment::kLogSubsystem), "sender");
    return log;
}

std::string httpError(const HttpClient::Response& response) {
    return response.transportOk ? HttpClient::statusPhrase(response.status) : response.error;
}

// Uploads and the probe only look at the status; the first bytes of their answers are read
// and dropped.
bool sendExpectingOk(HttpClient::Request& request, std::string& error) {
    request.discardResponseBody = true;
    const HttpClient::Response response = HttpClient::perform(request);
    if (response.transportOk && response.status == 200)
        return true;
    error = httpError(response);
    return false;
}

std::string tooLarge(int64_t bytes) {
    return fmt::format(
        "The page is too large to send ({} bytes; page uploads allow at most {} bytes)", bytes,
        SenderInetProvider::kMaxPageBytes);
}

}  // namespace

SenderInetProvider::SenderInetProvider(SenderConfig& config, Person& currentUser,
                                       RemotePrinterArray& remotePrinters)
    : InetProvider(config, currentUser), remotePrinters_(remotePrinters) {}

bool SenderInetProvider::uploadData(std::string body, const std::string& url,
                                    const Headers& headers, std::string& error,
                                    HttpClient::ProxyUse proxy) {
    HttpClient::Request request;
    request.method = "POST";
    request.url = url;
    request.headers = headers;
    request.headers["User-Agent"] = userAgent();
    request.completeHeaderSet = true;
    request.body = std::move(body);
    request.timeoutSeconds = kUploadTimeout;
    request.deadlineSeconds = deadlines().uploadSeconds;
    request.proxy = proxy;
    return sendExpectingOk(request, error);
}

bool SenderInetProvider::uploadRange(std::string chunk, int64_t offset, int64_t total, int jobId,
                                     int pageNo, int pageCount, const std::string& url, bool direct,
                                     std::string& error) {
    const int64_t last = offset + static_cast<int64_t>(chunk.size()) - 1;
    if (total > kMaxPageBytes) {
        error = tooLarge(total);
        return false;
    }
    if (chunk.empty() || offset < 0 || last >= total) {
        error =
            fmt::format("The range {}-{} lies outside the page of {} bytes", offset, last, total);
        return false;
    }
    senderLog().notice("bytes {}-{}/{}", offset, last, total);
    Headers headers;
    if (!direct)
        headers = dictionaryWithTDTokenHeader();
    headers["Content-Type"] = "binary";
    headers["TD-Job"] = fmt::format("{}", jobId);
    headers["TD-Page"] = fmt::format("{}/{}", pageNo, pageCount);
    headers["Content-Range"] = fmt::format("bytes {}-{}/{}", offset, last, total);
    return uploadData(std::move(chunk), url, headers, error,
                      direct ? HttpClient::ProxyUse::none : HttpClient::ProxyUse::environment);
}

bool SenderInetProvider::uploadPage(const std::filesystem::path& path, int jobId, int pageNo,
                                    int pageCount, const std::string& url, bool direct,
                                    std::string& error) {
    senderLog().notice("Upload page {}", pageNo);
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "Cannot open file";
        return false;
    }
    const int64_t total = info.st_size;
    if (total > kMaxPageBytes) {
        error = tooLarge(total);
        return false;
    }
    const size_t chunkSize = direct ? kDirectChunkSize : kServerChunkSize;
    int64_t offset = 0;
    while (true) {
        std::string chunk(chunkSize, '\0');
        const ssize_t got = readFully(file.get(), chunk.data(), chunkSize);
        if (got < 0) {
            error = fmt::format("Cannot read {}: {}", path.string(), std::strerror(errno));
            return false;
        }
        if (got == 0)
            break;
        chunk.resize(static_cast<size_t>(got));
        if (!uploadRange(std::move(chunk), offset, total, jobId, pageNo, pageCount, url, direct,
                         error)) {
            return false;
        }
        offset += got;
    }
    // A file that changed size while it was sent would leave the receiver a damaged page.
    if (offset != total) {
        error = fmt::format("{} changed while it was sent", path.string());
        return false;
    }
    return true;
}

bool SenderInetProvider::loginWithToken(std::string& error) {
    SoapData parameter;
    pugi::xml_node data = parameter.element();
    setAttribute(data, "echo", "favorites");
    appendElement(data, "token", config().token());

    SoapResponse response;
    if (!soapRequest("Login", parameter.text(), config().service(), response,
                     kOptionStoreToken | kOptionReadUser, error)) {
        return false;
    }
    if (!remotePrinters_.parse(response.element().child("favorites"), false)) {
        senderLog().error("The service listed more than {} printers; the others are left out",
                          RemotePrinterArray::kMaxPrinters);
    }
    return true;
}

bool SenderInetProvider::prePostJob(JobData& job, std::string& directUrl, std::string& serverUrl,
                                    std::string& error) {
    SoapData parameter;
    pugi::xml_node data = parameter.element();
    appendElement(data, "token", config().token());
    job.getXml(data);

    SoapResponse response;
    if (!soapRequest("PrePostJob2", parameter.text(), config().service(), response, 0, error))
        return false;
    pugi::xml_node element = response.element();
    pugi::xml_node jobElement = element.child("job");
    // A job id is positive and written out in full; "12abc" or an id beyond 32 bits names no
    // job the later calls could refer to, and must not be taken for another one.
    const std::optional<int> jobId =
        jobElement ? strictIntFromText(getAttribute(jobElement, "id")) : std::nullopt;
    if (!jobId || *jobId <= 0) {
        error = "No job in response";
        return false;
    }
    job.setServerId(*jobId);
    directUrl = childText(element, "direct-address");
    serverUrl = childText(element, "post-address");
    return true;
}

bool SenderInetProvider::finishJob(int jobId, int pageCount, std::string& error) {
    SoapData parameter;
    pugi::xml_node data = parameter.element();
    appendElement(data, "token", config().token());
    pugi::xml_node job = appendElement(data, "job");
    setAttribute(job, "id", jobId);
    setAttribute(job, "new-status", 1);
    setAttribute(job, "pages", pageCount);

    SoapResponse response;
    return soapRequest("UpdateJob", parameter.text(), config().service(), response, 0, error);
}

bool SenderInetProvider::probeDirect(const std::string& url, int jobId, std::string& error) {
    HttpClient::Request request;
    request.url = url;
    request.headers = {{"TD-Job", fmt::format("{}", jobId)},
                       {"TD-Server", ServiceUrl::hostOf(config().service())},
                       {"Content-Length", "0"},
                       {"User-Agent", userAgent()}};
    request.completeHeaderSet = true;
    // The probe's time is its whole budget: a console that answers slowly is no faster
    // for the pages than the service.
    request.timeoutSeconds = std::min(kProbeTimeout, deadlines().probeSeconds);
    request.deadlineSeconds = deadlines().probeSeconds;
    request.proxy = HttpClient::ProxyUse::none;
    return sendExpectingOk(request, error);
}

}  // namespace velmora
