#include "core/account/Person.h"

#include "core/xml/XmlHelpers.h"

namespace velmora {

namespace {

constexpr std::array<const char*, Person::kPropertyCount> kElementNames = {
    "mail", "login", "nick", "name", "phone", "country", "city", "state", "address", "zip"};

bool inRange(int index) {
    return index >= 0 && index < Person::kPropertyCount;
}

}  // namespace

const char* Person::propertyElementName(int index) {
    return inRange(index) ? kElementNames[static_cast<size_t>(index)] : nullptr;
}

pugi::xml_node Person::getXml(pugi::xml_node parent, const char* name, bool includeId) const {
    pugi::xml_node element = appendElement(parent, name);
    for (int i = 0; i < kPropertyCount; ++i)
        appendElement(element, propertyElementName(i), getProperty(i));
    if (includeId)
        setAttribute(element, "id", serverId_);
    return element;
}

void Person::parse(pugi::xml_node element) {
    // The id names the account in permissions and jobs sent back: all of it or none.
    serverId_ = strictIntFromText(getAttribute(element, "id")).value_or(0);
    premium_ = boolFromText(getAttribute(element, "premium"));
    for (int i = 0; i < kPropertyCount; ++i)
        properties_[static_cast<size_t>(i)] = childText(element, propertyElementName(i));
}

std::string Person::getCompleteAddress() const {
    std::string address = properties_[kAddress];
    for (PropertyIndex part : {kCity, kZip, kState, kCountry}) {
        if (!properties_[part].empty()) {
            address += ' ';
            address += properties_[part];
        }
    }
    return address;
}

const std::string& Person::getProperty(int index) const {
    static const std::string kEmpty;
    return inRange(index) ? properties_[static_cast<size_t>(index)] : kEmpty;
}

void Person::setProperty(int index, std::string value) {
    if (inRange(index))
        properties_[static_cast<size_t>(index)] = std::move(value);
}

}  // namespace velmora
