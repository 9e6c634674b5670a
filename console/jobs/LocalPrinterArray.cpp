#include "console/jobs/LocalPrinterArray.h"

#include "console/jobs/CupsDestinations.h"
#include "core/Deployment.h"
#include "core/config/TextFile.h"
#include "core/xml/XmlHelpers.h"
#include "platform/Logger.h"

#include <string>
#include <string_view>
#include <utility>

namespace velmora::console {

namespace {

// The make and model of the queues this system installs for remote printers.
constexpr const char* kOwnQueueModel = "Velmora";

const Logger& logger() {
    static const Logger log(std::string(deployment::kLogSubsystem), "printers");
    return log;
}

// The print system takes any bytes for descriptions, locations and paper titles, but they go
// into the profile file (read back only as UTF-8) and into XML for the service and nearby
// clients, which cannot carry control characters even as references.
std::string textForXml(const std::string& text) {
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string result;
    for (char c : toValidUtf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r')
            result += kReplacement;
        else
            result += c;
    }
    return result;
}

// A queue is opened by its exact name, so a name that is not fit for XML cannot be mended,
// only left out.
bool nameFitsXml(const std::string& name) {
    return textForXml(name) == name;
}

LocalPrinter printerFromQueue(const CupsDestinations::Queue& queue) {
    LocalPrinter printer;
    printer.setLocalTitle(queue.name);
    printer.setShareTitle(textForXml(queue.info.empty() ? queue.name : queue.info));
    printer.setLocation(textForXml(queue.location));
    if (queue.state)
        printer.setLocalStatus(static_cast<uint16_t>(*queue.state));
    for (const CupsDestinations::Media& media : queue.media) {
        Paper paper;
        paper.setFormat(textForXml(media.name));
        paper.setTitle(textForXml(media.title.empty() ? media.name : media.title));
        paper.setSystemWidth(media.width);
        paper.setSystemHeight(media.height);
        printer.papers().addObject(std::move(paper));
    }
    printer.setDefaultPaperName(textForXml(queue.defaultMediaTitle));
    if (queue.hasDefaultDuplex)
        printer.setDuplex(1);
    return printer;
}

}  // namespace

LocalPrinterArray::LocalPrinterArray(std::string printServer)
    : printServer_(std::move(printServer)) {}

size_t LocalPrinterArray::count() const {
    std::lock_guard lock(mutex_);
    return printers_.size();
}

LocalPrinter LocalPrinterArray::objectAtIndex(size_t index) const {
    std::lock_guard lock(mutex_);
    return printers_.at(index);
}

std::optional<LocalPrinter> LocalPrinterArray::getPrinter(std::string_view publicId) const {
    std::lock_guard lock(mutex_);
    for (auto printer = printers_.rbegin(); printer != printers_.rend(); ++printer) {
        if (printer->publicId() == publicId)
            return *printer;
    }
    return std::nullopt;
}

std::vector<LocalPrinter> LocalPrinterArray::allPrinters() const {
    std::lock_guard lock(mutex_);
    return printers_;
}

bool LocalPrinterArray::loadFromSystem() {
    // The print system is asked without the lock held, as it may take a while; the new list
    // replaces the old one in one step.
    std::string error;
    const auto queues = CupsDestinations::list(printServer_, error);
    std::vector<LocalPrinter> printers;
    if (queues) {
        for (const CupsDestinations::Queue& queue : *queues) {
            if (!queue.makeAndModel || *queue.makeAndModel == kOwnQueueModel)
                continue;
            if (!nameFitsXml(queue.name)) {
                logger().error("Local printer {} left out: its name is not plain text",
                               textForXml(queue.name));
                continue;
            }
            printers.push_back(printerFromQueue(queue));
        }
    } else {
        logger().error("Local printers cannot be read: {}", error);
    }
    std::lock_guard lock(mutex_);
    printers_ = std::move(printers);
    return queues.has_value();
}

void LocalPrinterArray::updateFromConfig(pugi::xml_node section) {
    std::lock_guard lock(mutex_);
    for (LocalPrinter& printer : printers_) {
        const std::string title = printer.localTitle();
        // Later entries win over earlier ones with the same title.
        for (pugi::xml_node saved : section.children("printer")) {
            if (childText(saved, "local-title") == title)
                printer.updateFromConfigXml(saved);
        }
    }
}

void LocalPrinterArray::saveToConfig(pugi::xml_node root) const {
    std::lock_guard lock(mutex_);
    pugi::xml_node printers = appendElement(root, "printers");
    for (const LocalPrinter& printer : printers_)
        printer.getConfigXml(printers);
}

pugi::xml_node LocalPrinterArray::getLookupXml(pugi::xml_node parent) const {
    std::lock_guard lock(mutex_);
    pugi::xml_node lookup = appendElement(parent, "lookup");
    for (const LocalPrinter& printer : printers_)
        appendElement(appendElement(lookup, "printer"), "public-id", printer.publicId());
    return lookup;
}

pugi::xml_node LocalPrinterArray::getPtpXml(pugi::xml_node parent) const {
    std::lock_guard lock(mutex_);
    pugi::xml_node list = appendElement(parent, "printers");
    for (const LocalPrinter& printer : printers_) {
        if (printer.shared() && !printer.hidden())
            printer.getServerXml(list);
    }
    return list;
}

void LocalPrinterArray::parseLookupXml(pugi::xml_node lookup) {
    std::lock_guard lock(mutex_);
    for (LocalPrinter& printer : printers_)
        printer.setShared(false);
    for (pugi::xml_node entry : lookup.children("printer")) {
        const std::string publicId = childText(entry, "public-id");
        for (LocalPrinter& printer : printers_) {
            if (printer.publicId() == publicId)
                printer.setShared(true);
        }
    }
}

}  // namespace velmora::console
