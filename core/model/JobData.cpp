#include "core/model/JobData.h"

#include "core/model/PrinterMasks.h"
#include "core/xml/XmlHelpers.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace velmora {

namespace {

// In the job element 1 is portrait and 2 landscape.
constexpr int kElementPortrait = 1;
constexpr int kElementLandscape = 2;

// Ids, counts and codes steer what is printed, stored and reported back, so a text that is not
// exactly a number reads as absent rather than as its leading digits.
int strictOr(std::string_view text, int absent) {
    return strictIntFromText(text).value_or(absent);
}

}  // namespace

void JobData::parse(pugi::xml_node element) {
    serverId_ = strictOr(getAttribute(element, "id"), 0);
    // Copies handed to worker threads share the sender: a refresh replaces it, never rewrites it.
    if (pugi::xml_node person = element.child("printing-person")) {
        auto sender = std::make_shared<Person>();
        sender->parse(person);
        sender_ = std::move(sender);
    }
    premium_ = boolFromText(childText(element, "premium"));
    printerId_ = childText(element, "printer");
    format_ = childText(element, "paper-format");
    orientation_ = strictOr(childText(element, "paper-orientation"), 0) == kElementLandscape
                       ? kLandscape
                       : kPortrait;
    bin_ = childText(element, "bin");
    copies_ = std::max(1, strictOr(childText(element, "copies"), 1));
    duplex_ = strictOr(childText(element, "duplex"), 0);
    collate_ = boolFromText(childText(element, "collate"));
    packed_ = boolFromText(childText(element, "pack"));
    title_ = childText(element, "document");
    encryption_ = encryptionFromName(childText(element, "encrypt-method"), 0);
    transport_ = transportFromName(childText(element, "transport"), kTransportEmf);
    started_ = getAttribute(element, "started");
    parsePages(element);
}

void JobData::parsePages(pugi::xml_node element) {
    pages_.clear();
    for (pugi::xml_node page : element.children("page"))
        pages_.emplace_back(strictOr(getAttribute(page, "page-number"), 0), childText(page, "url"));
}

pugi::xml_node JobData::getXml(pugi::xml_node parent) const {
    pugi::xml_node job = appendElement(parent, "job");
    appendElement(job, "printer", printerId_);
    appendElement(job, "paper-format", format_);
    if (customWidth_ > 0)
        appendElement(job, "width", customWidth_);
    if (customHeight_ > 0)
        appendElement(job, "height", customHeight_);
    appendElement(job, "paper-orientation",
                  orientation_ == kLandscape ? kElementLandscape : kElementPortrait);
    if (!bin_.empty())
        appendElement(job, "bin", bin_);
    if (copies_ >= 2)
        appendElement(job, "copies", copies_);
    if (collate_)
        appendElement(job, "collate", "1");
    if (packed_)
        appendElement(job, "pack", "1");
    appendElement(job, "document", title_);
    appendElement(job, "duplex", duplex_);
    if (encryption_ != 0) {
        appendElement(job, "encrypt", "1");
        appendElement(job, "encrypt-method", encryptionNamesFromMask(encryption_));
    }
    appendElement(job, "transport", transportNamesFromMask(transport_));
    if (notify_)
        appendElement(job, "print-notify", "1");
    return job;
}

pugi::xml_node JobData::getConfigXml(pugi::xml_node parent) const {
    pugi::xml_node job = getXml(parent);
    setAttribute(job, "id", serverId_);
    sender_->getXml(job, "printing-person", true);
    for (const Page& page : pages_) {
        pugi::xml_node element = appendElement(job, "page");
        setAttribute(element, "page-number", page.number());
        setAttribute(element, "url", page.url());
    }
    return job;
}

}  // namespace velmora
