// Requests to the direct print server, fed to the request reader in pieces of varying size,
// and the page headers of every complete head read as "/post" reads them. Whatever the bytes,
// the reader must never hand out a head over the limit or more body than the head announced,
// and every range it lets through must lie inside its page.
#include "console/jobs/DirectPageRequest.h"
#include "console/jobs/HttpRequestReader.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using velmora::console::DirectPageRequest;
using velmora::console::HttpRequestHead;
using velmora::console::HttpRequestReader;

namespace {

void checkPageHeaders(const HttpRequestHead& head) {
    if (const auto job = head.headerForKey("td-job")) {
        if (const auto id = DirectPageRequest::parseJobId(*job); id && *id <= 0)
            __builtin_trap();
    }
    if (const auto page = head.headerForKey("td-page")) {
        if (const auto numbers = DirectPageRequest::parsePage(*page); numbers && numbers->first < 1)
            __builtin_trap();
    }
    if (const auto range = head.headerForKey("content-range")) {
        if (const auto parsed = DirectPageRequest::parseContentRange(*range)) {
            if (parsed->first < 0 || parsed->first > parsed->last ||
                parsed->last >= parsed->total || parsed->length() < 1) {
                __builtin_trap();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte sets how the rest arrives: in pieces of 1 to 256 bytes.
    const size_t pieceSize = static_cast<size_t>(data[0]) + 1;
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    HttpRequestReader reader(16 * 1024);
    std::optional<uint64_t> announced;
    uint64_t bodyBytes = 0;
    size_t appended = 0;
    bool headSeen = false;
    while (true) {
        const HttpRequestReader::Event event = reader.next();
        if (event == HttpRequestReader::Event::kHead) {
            if (headSeen)
                __builtin_trap();
            headSeen = true;
            // The head, request line included, is never longer than the limit.
            if (appended - reader.buffered() > 16 * 1024)
                __builtin_trap();
            checkPageHeaders(reader.head());
            announced = reader.contentLength();
        } else if (event == HttpRequestReader::Event::kBody) {
            if (!headSeen || reader.body().empty())
                __builtin_trap();
            bodyBytes += reader.body().size();
            if (announced && bodyBytes > *announced)
                __builtin_trap();
        } else if (event == HttpRequestReader::Event::kNeedMore) {
            if (input.empty())
                break;
            const size_t take = std::min(pieceSize, input.size());
            reader.append(input.substr(0, take));
            appended += take;
            input.remove_prefix(take);
        } else {
            if (event == HttpRequestReader::Event::kDone &&
                (!headSeen || (announced && bodyBytes != *announced))) {
                __builtin_trap();
            }
            break;
        }
    }
    return 0;
}
