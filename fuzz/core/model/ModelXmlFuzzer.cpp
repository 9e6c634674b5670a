// Feeds arbitrary XML to the printer and job readers, then checks that what they read survives
// being written and read again.
#include "core/model/BinArray.h"
#include "core/model/JobData.h"
#include "core/model/PaperArray.h"
#include "core/model/RemotePrinterArray.h"
#include "core/xml/XmlHelpers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace velmora;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "round trip lost: %s\n", what);
        std::abort();
    }
}

// Every element of that name, in document order, without recursion (inputs may nest deeply).
std::vector<pugi::xml_node> elementsNamed(pugi::xml_node root, std::string_view name) {
    std::vector<pugi::xml_node> found;
    pugi::xml_node node = root;
    while (node) {
        if (node.type() == pugi::node_element && name == node.name())
            found.push_back(node);
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && node != root && !node.next_sibling())
            node = node.parent();
        if (!node || node == root)
            break;
        node = node.next_sibling();
    }
    return found;
}

void checkPrinterRoundTrip(const RemotePrinter& printer) {
    pugi::xml_document document;
    printer.appendServerXml(document, false, "default");
    RemotePrinter again;
    again.parseServerXml(document.document_element());
    check(again.publicId() == printer.publicId(), "public id");
    check(again.shareTitle() == printer.shareTitle(), "title");
    check(again.location() == printer.location(), "location");
    check(again.packing() == printer.packing(), "packing");
    check(again.encryptMask() == printer.encryptMask(), "encryption mask");
    check(again.transportMask() == printer.transportMask(), "transport mask");
    check(again.landscape() == printer.landscape(), "landscape");
    check(again.collate() == printer.collate(), "collate");
    check(again.color() == printer.color(), "color");
    check(again.duplex() == printer.duplex(), "duplex");
    check(again.copies() == printer.copies(), "copies");
    check(again.papers().count() == printer.papers().count(), "paper count");
    for (size_t i = 0; i < printer.papers().count(); ++i) {
        const Paper& a = printer.papers().objectAtIndex(i);
        const Paper& b = again.papers().objectAtIndex(i);
        check(a.format() == b.format() && a.title() == b.title(), "paper names");
        // Sizes are stored in points, so each pass may lose one tenth of a millimetre.
        check(std::llabs(static_cast<long long>(a.width()) - b.width()) <= 1, "paper width");
        check(std::llabs(static_cast<long long>(a.height()) - b.height()) <= 1, "paper height");
    }
    check(again.bins().count() == printer.bins().count(), "bin count");
    for (size_t i = 0; i < printer.bins().count(); ++i) {
        const Bin& a = printer.bins().objectAtIndex(i);
        const Bin& b = again.bins().objectAtIndex(i);
        check(a.code() == b.code() && a.title() == b.title(), "bin");
    }
}

void checkSameDescription(const JobData& a, const JobData& b) {
    check(a.printerId() == b.printerId(), "job printer");
    check(a.format() == b.format(), "job format");
    check(a.orientation() == b.orientation(), "job orientation");
    check(a.bin() == b.bin(), "job bin");
    check(a.copies() == b.copies(), "job copies");
    check(a.collate() == b.collate(), "job collate");
    check(a.packed() == b.packed(), "job pack");
    check(a.title() == b.title(), "job title");
    check(a.duplex() == b.duplex(), "job duplex");
    check(a.encryption() == b.encryption(), "job encryption");
    check(a.transport() == b.transport(), "job transport");
}

void checkJobRoundTrip(const JobData& job) {
    pugi::xml_document sent;
    job.getXml(sent);
    JobData received;
    received.parse(sent.document_element());
    checkSameDescription(job, received);

    // The profile file goes through text, as it does on disk.
    pugi::xml_document saved;
    job.getConfigXml(saved);
    pugi::xml_document reloaded;
    std::string error;
    check(parseXml(reloaded, xmlToString(saved), error), "profile form parses");
    JobData restored;
    restored.parse(reloaded.document_element());
    check(restored.serverId() == job.serverId(), "job id");
    check(restored.pages().size() == job.pages().size(), "page count");
    for (size_t i = 0; i < job.pages().size(); ++i)
        check(restored.pages()[i].number() == job.pages()[i].number(), "page number");
    check(restored.sender().serverId() == job.sender().serverId() &&
              restored.sender().nick() == job.sender().nick() &&
              restored.sender().mail() == job.sender().mail(),
          "sender");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pugi::xml_document document;
    std::string error;
    if (!parseXml(document, std::string_view(reinterpret_cast<const char*>(data), size), error))
        return 0;
    pugi::xml_node root = document.document_element();

    RemotePrinterArray printers;
    printers.parse(root, false);
    printers.parse(root, true);
    for (pugi::xml_node container : elementsNamed(root, "favorites"))
        printers.parse(container, true);
    for (const auto& printer : printers)
        checkPrinterRoundTrip(*printer);
    printers.remove(root);

    for (pugi::xml_node element : elementsNamed(root, "printer")) {
        RemotePrinter printer;
        printer.parseServerXml(element);
        checkPrinterRoundTrip(printer);
    }
    for (pugi::xml_node element : elementsNamed(root, "job")) {
        JobData job;
        job.parse(element);
        checkJobRoundTrip(job);
    }
    PaperArray papers;
    for (pugi::xml_node element : elementsNamed(root, "paper"))
        papers.addObject(Paper(element));
    BinArray bins;
    for (pugi::xml_node element : elementsNamed(root, "bin"))
        bins.addObject(Bin(element));
    return 0;
}
