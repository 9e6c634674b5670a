#include "console/jobs/CupsDestinations.h"

#include "console/jobs/LegacyPpd.h"

#include <cups/cups.h>

#include <charconv>
#include <memory>

namespace velmora::console {

namespace {

constexpr int kConnectTimeoutMs = 30000;
// libcups gives sizes in hundredths of a millimetre.
constexpr double kPointsPerHundredthMm = 72.0 / 2540.0;

struct HttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
using Connection = std::unique_ptr<http_t, HttpCloser>;

struct DestsDeleter {
    int count = 0;
    void operator()(cups_dest_t* dests) const { cupsFreeDests(count, dests); }
};

struct DestInfoDeleter {
    void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
};

std::string lastCupsError(const char* fallback) {
    const char* reason = cupsLastErrorString();
    return reason != nullptr && *reason != '\0' ? reason : fallback;
}

Connection connect(const std::string& server) {
    const std::string host = server.empty() ? cupsServer() : server;
    // A socket path needs no port; libcups ignores it.
    return Connection(httpConnect2(host.c_str(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                   kConnectTimeoutMs, nullptr));
}

std::string option(const cups_dest_t& dest, const char* name) {
    const char* value = cupsGetOption(name, dest.num_options, dest.options);
    return value != nullptr ? value : "";
}

std::optional<unsigned> state(const cups_dest_t& dest) {
    const std::string text = option(dest, "printer-state");
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

CupsDestinations::Media media(http_t* http, cups_dest_t* dest, cups_dinfo_t* info,
                              cups_size_t& size) {
    CupsDestinations::Media paper;
    paper.name = size.media;
    const char* title = cupsLocalizeDestMedia(http, dest, info, CUPS_MEDIA_FLAGS_DEFAULT, &size);
    if (title != nullptr)
        paper.title = title;
    if (size.width > 0 && size.length > 0) {
        paper.width = size.width * kPointsPerHundredthMm;
        paper.height = size.length * kPointsPerHundredthMm;
    }
    return paper;
}

void readMedia(http_t* http, cups_dest_t* dest, CupsDestinations::Queue& queue) {
    const std::unique_ptr<cups_dinfo_t, DestInfoDeleter> info(cupsCopyDestInfo(http, dest));
    if (info == nullptr)
        return;
    const int count = cupsGetDestMediaCount(http, dest, info.get(), CUPS_MEDIA_FLAGS_DEFAULT);
    for (int index = 0; index < count; ++index) {
        cups_size_t size{};
        if (cupsGetDestMediaByIndex(http, dest, info.get(), index, CUPS_MEDIA_FLAGS_DEFAULT,
                                    &size) != 0)
            queue.media.push_back(media(http, dest, info.get(), size));
    }
    cups_size_t fallback{};
    if (cupsGetDestMediaDefault(http, dest, info.get(), CUPS_MEDIA_FLAGS_DEFAULT, &fallback) != 0)
        queue.defaultMediaTitle = media(http, dest, info.get(), fallback).title;
}

CupsDestinations::Queue readQueue(http_t* http, cups_dest_t* dest) {
    CupsDestinations::Queue queue;
    queue.name = dest->name;
    queue.info = option(*dest, "printer-info");
    queue.location = option(*dest, "printer-location");
    if (const char* model =
            cupsGetOption("printer-make-and-model", dest->num_options, dest->options))
        queue.makeAndModel = model;
    queue.state = state(*dest);
    readMedia(http, dest, queue);
    queue.hasDefaultDuplex = LegacyPpd::hasDefaultDuplex(http, queue.name);
    return queue;
}

}  // namespace

std::optional<std::vector<CupsDestinations::Queue>> CupsDestinations::list(
    const std::string& server, std::string& error) {
    const Connection http = connect(server);
    if (http == nullptr) {
        error = lastCupsError("The print system cannot be reached");
        return std::nullopt;
    }
    cups_dest_t* raw = nullptr;
    const int count = cupsGetDests2(http.get(), &raw);
    const std::unique_ptr<cups_dest_t, DestsDeleter> dests(raw, DestsDeleter{count});
    // An empty scheduler answers "not found"; only other failures mean the list is unknown.
    if (count == 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE &&
        cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
        error = lastCupsError("The print system cannot list its printers");
        return std::nullopt;
    }
    std::vector<Queue> queues;
    queues.reserve(static_cast<size_t>(count));
    for (int index = 0; index < count; ++index) {
        cups_dest_t* dest = &dests.get()[index];
        // An instance is a saved option set of a queue that is listed on its own.
        if (dest->instance != nullptr)
            continue;
        queues.push_back(readQueue(http.get(), dest));
    }
    return queues;
}

}  // namespace velmora::console
