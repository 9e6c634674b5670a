#pragma once

#include <pugixml.hpp>

namespace velmora::console {

// A list that keeps part of its state in the profile file ("config.xml"): the local printers'
// sharing identities and the unfinished direct jobs. The settings object owns the file and hands
// each section its element, so it never needs to know the lists themselves.
class ProfileSection {
  public:
    virtual ~ProfileSection() = default;

    // The section's saved element, or an empty node when the file has none.
    virtual void updateFromConfig(pugi::xml_node section) = 0;
    // Appends the section's element to the document's root element.
    virtual void saveToConfig(pugi::xml_node root) const = 0;
};

}  // namespace velmora::console
