#include "console/jobs/HTTPResponseHandler.h"

#include <fmt/format.h>

#include <utility>

namespace velmora::console {

HTTPResponseHandler::HTTPResponseHandler(HttpRequestHead head, DirectServerContext& context)
    : head_(std::move(head)), context_(context) {}

std::optional<HttpResponse> HTTPResponseHandler::headReceived(std::optional<uint64_t>) {
    return std::nullopt;
}

std::optional<HttpResponse> HTTPResponseHandler::receiveBody(std::string_view bytes) {
    requestData_.append(bytes);
    return std::nullopt;
}

std::string HTTPResponseHandler::url() const {
    const std::optional<std::string_view> host = headerForKey("Host");
    if (!host || host->empty() || !head_.target.starts_with('/'))
        return head_.target;
    return fmt::format("http://{}{}", *host, head_.target);
}

std::string HTTPResponseHandler::escapeHtml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

HttpResponse HTTPResponseHandler::startResponse() {
    return HttpResponse{
        501,
        {{"Content-Type", "text/html"}, {"Connection", "close"}},
        fmt::format("<html><head><title>501 - Not Implemented</title></head><body><h1>501 - Not "
                    "Implemented</h1><p>No handler exists to handle {}.</p></body></html>",
                    escapeHtml(url()))};
}

}  // namespace velmora::console
