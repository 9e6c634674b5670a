#include "console/jobs/PrintersResponse.h"

#include <pugixml.hpp>

#include <sstream>

namespace velmora::console {

HttpResponse PrintersResponse::startResponse() {
    pugi::xml_document document;
    context().localPrinters.getPtpXml(document.append_child("response"));
    std::ostringstream text;
    document.save(text, "", pugi::format_raw, pugi::encoding_utf8);
    return HttpResponse::xml(text.str());
}

}  // namespace velmora::console
