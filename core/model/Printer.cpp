#include "core/model/Printer.h"

#include "core/model/PrinterMasks.h"
#include "core/xml/XmlHelpers.h"

#include <array>
#include <cstdint>
#include <random>

#include <fmt/format.h>

namespace velmora {

namespace {

const char* trueFalse(bool value) {
    return value ? "true" : "false";
}

int oneZero(bool value) {
    return value ? 1 : 0;
}

}  // namespace

Printer::Printer() : publicId_(newPublicId()) {}

std::string Printer::newPublicId() {
    // Random (version 4) UUID; std::random_device reads the kernel's random source here.
    std::random_device source;
    std::array<uint8_t, 16> bytes{};
    for (size_t i = 0; i < bytes.size(); i += 4) {
        uint32_t word = source();
        for (size_t j = 0; j < 4; ++j)
            bytes[i + j] = static_cast<uint8_t>(word >> (8 * j));
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += fmt::format("{:02x}", bytes[i]);
    }
    return text;
}

pugi::xml_node Printer::appendServerXml(pugi::xml_node parent, bool hidden,
                                        std::string_view defaultPaperName) const {
    pugi::xml_node printer = appendElement(parent, "printer");
    setAttribute(printer, "hidden", trueFalse(hidden));
    appendElement(printer, "public-id", publicId_);
    appendElement(printer, "title", shareTitle_);
    appendElement(printer, "location", location_);
    appendDetailsXml(printer, defaultPaperName);
    return printer;
}

pugi::xml_node Printer::appendDetailsXml(pugi::xml_node printer,
                                         std::string_view defaultPaperName) const {
    pugi::xml_node details = appendElement(printer, "details");
    pugi::xml_node capabilities = appendElement(details, "capabilities");
    setAttribute(capabilities, "pack", trueFalse(packing_));
    setAttribute(capabilities, "enc-type", encryptionNamesFromMask(encryptMask_));
    setAttribute(capabilities, "transport", transportNamesFromMask(transportMask_));
    setAttribute(capabilities, "collate", oneZero(collate_));
    setAttribute(capabilities, "color", oneZero(color_));
    setAttribute(capabilities, "duplex", duplex_);
    setAttribute(capabilities, "copies", copies_);
    if (landscape_ != 0)
        appendElement(details, "landscape", landscape_);
    if (papers_.count() > 0) {
        pugi::xml_node formats = appendElement(details, "paper-formats");
        setAttribute(formats, "default", defaultPaperName);
        for (const Paper& paper : papers_)
            paper.appendXml(formats);
    }
    if (bins_.count() > 0) {
        pugi::xml_node binList = appendElement(details, "bins");
        for (const Bin& bin : bins_)
            bin.appendXml(binList);
    }
    return details;
}

void Printer::parseDetails(pugi::xml_node details) {
    landscape_ = intFromText(childText(details, "landscape"));

    papers_.removeAllObjects();
    for (pugi::xml_node child : details.child("paper-formats").children()) {
        if (papers_.count() >= kMaxPapers)
            break;
        std::string_view name = child.name();
        if (name == "paper-format" || name == "paper")
            papers_.addObject(Paper(child));
    }

    bins_.removeAllObjects();
    for (pugi::xml_node child : details.child("bins").children("bin")) {
        if (bins_.count() >= kMaxBins)
            break;
        bins_.addObject(Bin(child));
    }

    if (pugi::xml_node capabilities = details.child("capabilities"))
        parseCapabilities(capabilities);
}

void Printer::parseCapabilities(pugi::xml_node capabilities) {
    collate_ = boolFromText(getAttribute(capabilities, "collate"));
    color_ = boolFromText(getAttribute(capabilities, "color"));
    duplex_ = intFromText(getAttribute(capabilities, "duplex"));
    copies_ = intFromText(getAttribute(capabilities, "copies"));
    packing_ = boolFromText(getAttribute(capabilities, "pack"));
    encryptMask_ = encryptionMaskFromNames(getAttribute(capabilities, "enc-type"));
    transportMask_ = transportMaskFromNames(getAttribute(capabilities, "transport"));
}

}  // namespace velmora
