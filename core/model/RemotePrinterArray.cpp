#include "core/model/RemotePrinterArray.h"

#include "core/xml/XmlHelpers.h"

#include <algorithm>
#include <unordered_set>

namespace velmora {

void RemotePrinterArray::removeObjectAtIndex(size_t index) {
    if (index >= array_.size())
        return;
    forget(*array_[index]);
    array_.erase(array_.begin() + static_cast<std::ptrdiff_t>(index));
}

void RemotePrinterArray::removeObject(const RemotePrinter* printer) {
    if (printer == nullptr)
        return;
    forget(*printer);
    std::erase_if(array_, [&](const std::shared_ptr<RemotePrinter>& entry) {
        return entry.get() == printer;
    });
}

void RemotePrinterArray::removeAllObjects() {
    array_.clear();
    byId_.clear();
}

void RemotePrinterArray::forget(const RemotePrinter& printer) {
    auto entry = byId_.find(printer.publicId());
    if (entry != byId_.end() && entry->second.get() == &printer)
        byId_.erase(entry);
}

std::shared_ptr<RemotePrinter> RemotePrinterArray::getPrinter(std::string_view publicId) const {
    auto entry = byId_.find(publicId);
    return entry == byId_.end() ? nullptr : entry->second;
}

bool RemotePrinterArray::parse(pugi::xml_node container, bool incremental) {
    if (!incremental)
        removeAllObjects();
    if (!container)
        return true;
    defaultPrinterId_ = getAttribute(container, "default");
    bool complete = true;
    for (pugi::xml_node element : container.children("printer")) {
        std::string publicId = childText(element, "public-id");
        std::shared_ptr<RemotePrinter> printer = getPrinter(publicId);
        if (!printer) {
            if (array_.size() >= kMaxPrinters) {
                complete = false;
                continue;
            }
            printer = std::make_shared<RemotePrinter>();
            array_.push_back(printer);
            byId_[publicId] = printer;
        }
        printer->parseServerXml(element);
    }
    return complete;
}

void RemotePrinterArray::remove(pugi::xml_node container) {
    std::unordered_set<const RemotePrinter*> gone;
    for (pugi::xml_node element : container.children("printer")) {
        if (std::shared_ptr<RemotePrinter> printer = getPrinter(childText(element, "public-id"))) {
            forget(*printer);
            gone.insert(printer.get());
        }
    }
    if (!gone.empty()) {
        std::erase_if(array_, [&](const std::shared_ptr<RemotePrinter>& entry) {
            return gone.contains(entry.get());
        });
    }
}

}  // namespace velmora
