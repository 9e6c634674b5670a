#include "packaging/cups/QueuePolicy.h"

#include <cups/cups.h>

#include <memory>

namespace velmora::backend {

namespace {

struct IppDeleter {
    void operator()(ipp_t* message) const { ippDelete(message); }
};
using IppMessage = std::unique_ptr<ipp_t, IppDeleter>;

}  // namespace

std::optional<std::string> QueuePolicy::of(const std::string& queue, std::string& error) {
    char uri[HTTP_MAX_URI];
    if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                         "/printers/%s", queue.c_str()) != HTTP_URI_STATUS_OK) {
        error = "The queue's name makes no address";
        return std::nullopt;
    }
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "printer-op-policy");
    // cupsDoRequest takes the request and frees it.
    const IppMessage response(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    if (!response || ippGetStatusCode(response.get()) > IPP_STATUS_OK_EVENTS_COMPLETE) {
        error =
            std::string("The print system does not describe the queue: ") + cupsLastErrorString();
        return std::nullopt;
    }
    ipp_attribute_t* policy = ippFindAttribute(response.get(), "printer-op-policy", IPP_TAG_NAME);
    const char* name = policy != nullptr ? ippGetString(policy, 0, nullptr) : nullptr;
    if (name == nullptr) {
        error = "The print system names no policy for the queue";
        return std::nullopt;
    }
    return std::string(name);
}

}  // namespace velmora::backend
