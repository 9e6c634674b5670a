#include "console/jobs/NewJobResponse.h"
#include "console/jobs/DirectServerLog.h"

#include "core/Deployment.h"
#include "core/xml/XmlHelpers.h"
#include "platform/Logger.h"

#include <pugixml.hpp>

#include <sstream>

namespace velmora::console {

bool NewJobResponse::sharesPrinter(const std::string& publicId) const {
    if (publicId.empty())
        return false;
    for (const LocalPrinter& printer : context().localPrinters.allPrinters()) {
        if (printer.shared() && !printer.hidden() && printer.publicId() == publicId)
            return true;
    }
    return false;
}

HttpResponse NewJobResponse::startResponse() {
    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(requestData().data(), requestData().size());
    if (!parsed || !document.document_element()) {
        const char* description = parsed ? nullptr : parsed.description();
        serverLog().notice("{}", description != nullptr ? description : "Invalid XML in request");
        return HttpResponse::withStatus(500);
    }
    const pugi::xml_node data = findNodeByName(document, "data");
    if (!data)
        return HttpResponse::withStatus(400);
    // A job only for a printer that "/printers" offers: anything else could never print here.
    const pugi::xml_node job = data.child("job");
    if (!job || !sharesPrinter(childText(job, "printer")))
        return HttpResponse::withStatus(400);
    const std::optional<int> id = context().jobs.startReceivingPtpJob(data);
    if (!id)
        return HttpResponse::withStatus(503);

    pugi::xml_document reply;
    setAttribute(reply.append_child("response").append_child("job"), "id", *id);
    std::ostringstream text;
    reply.save(text, "", pugi::format_raw, pugi::encoding_utf8);
    return HttpResponse::xml(text.str());
}

}  // namespace velmora::console
