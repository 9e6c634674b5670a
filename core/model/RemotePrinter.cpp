#include "core/model/RemotePrinter.h"

#include "core/xml/XmlHelpers.h"

namespace velmora {

void RemotePrinter::parseServerXml(pugi::xml_node element) {
    if (pugi::xml_node ownerElement = element.child("owner"))
        owner_.parse(ownerElement);
    online_ = boolFromText(getAttribute(element, "online"));
    setPublicId(childText(element, "public-id"));
    setUpdateDate(getAttribute(element, "changed"));
    if (pugi::xml_node title = element.child("title"))
        setShareTitle(childText(title, "."));
    if (pugi::xml_node location = element.child("location"))
        setLocation(childText(location, "."));
    if (pugi::xml_node details = element.child("details"))
        parseDetails(details);
}

}  // namespace velmora
