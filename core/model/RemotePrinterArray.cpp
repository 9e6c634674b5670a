#include "core/model/RemotePrinterArray.h"

#include "core/xml/XmlHelpers.h"

#include <algorithm>

namespace velmora {

void RemotePrinterArray::removeObjectAtIndex(size_t index) {
    if (index < array_.size())
        array_.erase(array_.begin() + static_cast<std::ptrdiff_t>(index));
}

void RemotePrinterArray::removeObject(const RemotePrinter* printer) {
    std::erase_if(array_, [&](const std::shared_ptr<RemotePrinter>& entry) {
        return entry.get() == printer;
    });
}

std::shared_ptr<RemotePrinter> RemotePrinterArray::getPrinter(std::string_view publicId) const {
    auto hit = std::find_if(
        array_.rbegin(), array_.rend(),
        [&](const std::shared_ptr<RemotePrinter>& entry) { return entry->publicId() == publicId; });
    return hit == array_.rend() ? nullptr : *hit;
}

void RemotePrinterArray::parse(pugi::xml_node container, bool incremental) {
    if (!incremental)
        array_.clear();
    if (!container)
        return;
    defaultPrinterId_ = getAttribute(container, "default");
    for (pugi::xml_node element : container.children("printer")) {
        std::shared_ptr<RemotePrinter> printer = getPrinter(childText(element, "public-id"));
        if (!printer) {
            printer = std::make_shared<RemotePrinter>();
            array_.push_back(printer);
        }
        printer->parseServerXml(element);
    }
}

void RemotePrinterArray::remove(pugi::xml_node container) {
    for (pugi::xml_node element : container.children("printer")) {
        if (std::shared_ptr<RemotePrinter> printer = getPrinter(childText(element, "public-id")))
            removeObject(printer.get());
    }
}

}  // namespace velmora
