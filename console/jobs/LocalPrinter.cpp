#include "console/jobs/LocalPrinter.h"

#include "core/model/PrinterMasks.h"
#include "core/xml/XmlHelpers.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>

namespace velmora::console {

namespace {

bool usable(double length) {
    return std::isfinite(length) && length > 0;
}

// Each side's larger length over its smaller one, summed: 2 for the same size, more otherwise.
double mismatch(LocalPrinter::Size asked, LocalPrinter::Size paper) {
    return std::max(asked.width, paper.width) / std::min(asked.width, paper.width) +
           std::max(asked.height, paper.height) / std::min(asked.height, paper.height);
}

}  // namespace

LocalPrinter::LocalPrinter() {
    setPacking(true);
    setEncryptMask(kEncryptionAes | kEncryptionAes0);
    setTransportMask(kTransportBmp | kTransportJpg | kTransportPng | kTransportPdf);
}

void LocalPrinter::updateFromConfigXml(pugi::xml_node element) {
    hidden_ = boolFromText(getAttribute(element, "hidden"));
    // An entry without an id keeps the fresh one: an empty id would match any job that names
    // no printer.
    if (std::string publicId = childText(element, "public-id"); !publicId.empty())
        setPublicId(std::move(publicId));
    setShareTitle(childText(element, "title"));
}

pugi::xml_node LocalPrinter::getXml(pugi::xml_node parent) const {
    pugi::xml_node printer = appendElement(parent, "printer");
    setAttribute(printer, "hidden", hidden_ ? "true" : "false");
    appendElement(printer, "public-id", publicId());
    appendElement(printer, "title", shareTitle());
    return printer;
}

pugi::xml_node LocalPrinter::getConfigXml(pugi::xml_node parent) const {
    pugi::xml_node printer = getXml(parent);
    appendElement(printer, "local-title", localTitle());
    return printer;
}

pugi::xml_node LocalPrinter::getServerXml(pugi::xml_node parent) const {
    return appendServerXml(parent, hidden_, defaultPaperName_);
}

LocalPrinter::Size LocalPrinter::closestPaperSize(Size size) const {
    if (!usable(size.width) || !usable(size.height))
        return size;
    std::optional<Size> best;
    double bestScore = 0;
    for (const Paper& paper : papers()) {
        const Size candidate{paper.systemWidth(), paper.systemHeight()};
        // A paper whose size the print system could not tell has no distance to compare.
        if (!usable(candidate.width) || !usable(candidate.height))
            continue;
        const double score = mismatch(size, candidate);
        if (!best || score < bestScore) {
            best = candidate;
            bestScore = score;
        }
    }
    return best.value_or(size);
}

}  // namespace velmora::console
