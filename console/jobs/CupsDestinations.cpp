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

// The PPD's own paper names come first: libcups looks its translations up on the scheduler
// at the address the scheduler calls itself, which is not always the one it was reached at.
CupsDestinations::Media media(http_t* http, cups_dest_t* dest, cups_dinfo_t* info,
                              cups_size_t& size, const LegacyPpd::Facts& ppd) {
    CupsDestinations::Media paper;
    paper.name = size.media;
    if (const auto title = ppd.paperTitles.find(paper.name); title != ppd.paperTitles.end()) {
        paper.title = title->second;
    } else if (const char* title =
                   cupsLocalizeDestMedia(http, dest, info, CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
        paper.title = title;
    }
    if (size.width > 0 && size.length > 0) {
        paper.width = size.width * kPointsPerHundredthMm;
        paper.height = size.length * kPointsPerHundredthMm;
    }
    return paper;
}

// The user's saved choice for the queue, else the queue's own default.
std::string defaultMedia(http_t* http, cups_dest_t* dest, cups_dinfo_t* info) {
    if (const char* saved = cupsGetOption("media", dest->num_options, dest->options))
        return saved;
    ipp_attribute_t* fallback = cupsFindDestDefault(http, dest, info, "media");
    const char* name = fallback != nullptr ? ippGetString(fallback, 0, nullptr) : nullptr;
    return name != nullptr ? name : "";
}

void readMedia(http_t* http, cups_dest_t* dest, const LegacyPpd::Facts& ppd,
               CupsDestinations::Queue& queue) {
    const std::unique_ptr<cups_dinfo_t, DestInfoDeleter> info(cupsCopyDestInfo(http, dest));
    if (info == nullptr)
        return;
    const int count = cupsGetDestMediaCount(http, dest, info.get(), CUPS_MEDIA_FLAGS_DEFAULT);
    for (int index = 0; index < count; ++index) {
        cups_size_t size{};
        if (cupsGetDestMediaByIndex(http, dest, info.get(), index, CUPS_MEDIA_FLAGS_DEFAULT,
                                    &size) != 0)
            queue.media.push_back(media(http, dest, info.get(), size, ppd));
    }
    const std::string name = defaultMedia(http, dest, info.get());
    queue.defaultMediaTitle = name;
    for (const CupsDestinations::Media& paper : queue.media) {
        if (paper.name == name && !paper.title.empty())
            queue.defaultMediaTitle = paper.title;
    }
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
    const LegacyPpd::Facts ppd = LegacyPpd::read(http, queue.name).value_or(LegacyPpd::Facts{});
    readMedia(http, dest, ppd, queue);
    queue.hasDefaultDuplex = ppd.hasDefaultDuplex;
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
