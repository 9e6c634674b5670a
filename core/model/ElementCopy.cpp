#include "core/model/ElementCopy.h"

#include "core/xml/XmlHelpers.h"

namespace velmora {

ElementCopy copyElement(pugi::xml_node element) {
    if (element.type() != pugi::node_element)
        return nullptr;
    auto document = std::make_shared<pugi::xml_document>();
    pugi::xml_node copy = document->append_child(element.name());
    for (pugi::xml_attribute attribute : element.attributes())
        copy.append_copy(attribute);
    for (pugi::xml_node child : element.children()) {
        if (child.type() == pugi::node_element)
            appendElement(copy, child.name(), childText(child, "."));
    }
    return document;
}

pugi::xml_node copiedElement(const ElementCopy& copy) {
    if (!copy)
        return {};
    return copy->document_element();
}

}  // namespace velmora
