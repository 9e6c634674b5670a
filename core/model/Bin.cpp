#include "core/model/Bin.h"

#include "core/xml/XmlHelpers.h"

namespace velmora {

Bin::Bin(pugi::xml_node element) : code_(getAttribute(element, "bin")) {
    title_ = getAttribute(element, "name");
    if (title_.empty())
        title_ = childText(element, ".");
}

pugi::xml_node Bin::appendXml(pugi::xml_node parent) const {
    pugi::xml_node element = appendElement(parent, "bin");
    setAttribute(element, "name", title_);
    setAttribute(element, "bin", code_);
    return element;
}

}  // namespace velmora
