#include "console/remote/CupsQueueList.h"

#include <cups/cups.h>

#include <memory>

#include "console/jobs/LegacyPpd.h"
#include "console/remote/QueueNames.h"

namespace velmora::console {

namespace {

constexpr int kConnectTimeoutMs = 30000;

struct HttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};

struct DestsDeleter {
    int count = 0;
    void operator()(cups_dest_t* dests) const { cupsFreeDests(count, dests); }
};

std::string option(const cups_dest_t& dest, const char* name) {
    const char* value = cupsGetOption(name, dest.num_options, dest.options);
    return value != nullptr ? value : "";
}

std::string lastCupsError(const char* fallback) {
    const char* reason = cupsLastErrorString();
    return reason != nullptr && *reason != '\0' ? reason : fallback;
}

}  // namespace

std::optional<std::vector<CupsQueueList::Queue>> CupsQueueList::list(const std::string& server,
                                                                     std::string& error) {
    const std::string host = server.empty() ? cupsServer() : server;
    const std::unique_ptr<http_t, HttpCloser> http(httpConnect2(host.c_str(), ippPort(), nullptr,
                                                                AF_UNSPEC, cupsEncryption(), 1,
                                                                kConnectTimeoutMs, nullptr));
    if (http == nullptr) {
        error = lastCupsError("The print system cannot be reached");
        return std::nullopt;
    }
    cups_dest_t* raw = nullptr;
    const int count = cupsGetDests2(http.get(), &raw);
    const std::unique_ptr<cups_dest_t, DestsDeleter> dests(raw, DestsDeleter{count});
    if (count == 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE &&
        cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
        error = lastCupsError("The print system cannot list its printers");
        return std::nullopt;
    }
    std::vector<Queue> queues;
    for (int index = 0; index < count; ++index) {
        const cups_dest_t& dest = dests.get()[index];
        if (dest.instance != nullptr)
            continue;
        Queue queue{dest.name, option(dest, "printer-info"), option(dest, "device-uri"), false};
        if (QueueNames::isOurs(queue.name, queue.deviceUri)) {
            const auto facts = LegacyPpd::read(http.get(), queue.name);
            queue.hasDefaultDuplex = facts.has_value() && facts->hasDefaultDuplex;
        }
        queues.push_back(std::move(queue));
    }
    return queues;
}

const CupsQueueList::Queue* CupsQueueList::find(const std::vector<Queue>& queues,
                                                std::string_view name) {
    for (const Queue& queue : queues) {
        if (QueueNames::sameQueueName(queue.name, name))
            return &queue;
    }
    return nullptr;
}

}  // namespace velmora::console
