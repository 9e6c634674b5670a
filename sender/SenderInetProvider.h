#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/net/InetProvider.h"

namespace velmora {

class JobData;
class RemotePrinterArray;
class SenderConfig;

// The sender's service calls: the token log-in, the job announcement and completion, and the
// page uploads in byte ranges to the service or to a nearby console.
class SenderInetProvider : public InetProvider {
  public:
    // Chunk sizes of page uploads.
    static constexpr size_t kDirectChunkSize = 131071;
    static constexpr size_t kServerChunkSize = 1048576;
    // Offsets and sizes travel as 32-bit signed numbers.
    static constexpr int64_t kMaxPageBytes = INT32_MAX;
    // Idle time-outs; deadlines() bounds each request as a whole.
    static constexpr double kProbeTimeout = 2.0;
    static constexpr double kUploadTimeout = 60;

    // `remotePrinters` receives the user's favourites at the log-in.
    SenderInetProvider(SenderConfig& config, Person& currentUser,
                       RemotePrinterArray& remotePrinters);

    // POSTs `body` with exactly `headers` plus "User-Agent"; true on status 200. Uploads to a
    // nearby console pass ProxyUse::none: a proxy cannot reach the local network's consoles.
    bool uploadData(std::string body, const std::string& url, const Headers& headers,
                    std::string& error,
                    HttpClient::ProxyUse proxy = HttpClient::ProxyUse::environment);
    bool uploadRange(std::string chunk, int64_t offset, int64_t total, int jobId, int pageNo,
                     int pageCount, const std::string& url, bool direct, std::string& error);
    // Sends a prepared page file range by range, the next only after the previous succeeded.
    bool uploadPage(const std::filesystem::path& path, int jobId, int pageNo, int pageCount,
                    const std::string& url, bool direct, std::string& error);

    bool loginWithToken(std::string& error);
    // Announces the job; sets its serverId and hands back the two addresses the service named.
    bool prePostJob(JobData& job, std::string& directUrl, std::string& serverUrl,
                    std::string& error);
    bool finishJob(int jobId, int pageCount, std::string& error);
    // Asks a nearby console ("/hello" URL) whether it takes the job directly.
    bool probeDirect(const std::string& url, int jobId, std::string& error);

  private:
    RemotePrinterArray& remotePrinters_;
};

}  // namespace velmora
