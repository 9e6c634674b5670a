#pragma once

#include <pugixml.hpp>

#include <array>
#include <string>

namespace velmora {

// A user as the service describes one: the signed-in user, a printer's owner, the sender of a
// job, a search result. Plain value; copies are independent.
class Person {
  public:
    // Indexes of the profile texts; the order is fixed (the profile dialog uses it too).
    enum PropertyIndex {
        kMail = 0,
        kLogin,
        kNick,
        kName,
        kPhone,
        kCountry,
        kCity,
        kState,
        kAddress,
        kZip,
    };
    static constexpr int kPropertyCount = 10;
    // Element name of a property, or nullptr for an index out of range.
    static const char* propertyElementName(int index);

    // Appends a person element named `name` to `parent`: one child per property in index
    // order, then the attribute "id" when `includeId`. The premium flag is never written.
    pugi::xml_node getXml(pugi::xml_node parent, const char* name, bool includeId) const;
    // Replaces everything from a person element; missing parts read as 0, false or empty.
    void parse(pugi::xml_node element);

    const std::string& login() const { return properties_[kLogin]; }
    const std::string& nick() const { return properties_[kNick]; }
    const std::string& mail() const { return properties_[kMail]; }
    // Address, then city, zip, state and country, each after a blank when not empty.
    std::string getCompleteAddress() const;

    // An index out of range reads as the empty string and is ignored when set.
    const std::string& getProperty(int index) const;
    void setProperty(int index, std::string value);

    int serverId() const { return serverId_; }
    void setServerId(int value) { serverId_ = value; }
    bool premium() const { return premium_; }
    void setPremium(bool value) { premium_ = value; }

    bool operator==(const Person&) const = default;

  private:
    int serverId_ = 0;
    bool premium_ = false;
    std::array<std::string, kPropertyCount> properties_;
};

}  // namespace velmora
