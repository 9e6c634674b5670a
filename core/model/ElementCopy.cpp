#include "core/model/ElementCopy.h"

namespace velmora {

ElementCopy copyElement(pugi::xml_node element) {
    if (element.type() != pugi::node_element)
        return nullptr;
    auto document = std::make_shared<pugi::xml_document>();
    document->append_copy(element);
    return document;
}

pugi::xml_node copiedElement(const ElementCopy& copy) {
    if (!copy)
        return {};
    return copy->document_element();
}

}  // namespace velmora
