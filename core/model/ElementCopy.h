#pragma once

#include <pugixml.hpp>

#include <memory>

namespace velmora {

// An immutable copy of one XML element, cheap to copy along with the record that carries it.
// Records keep the person elements they receive this way (a printer's owner, a job's sender).
using ElementCopy = std::shared_ptr<const pugi::xml_document>;

// A copy of `element` with its attributes and everything below it; nullptr for no element.
ElementCopy copyElement(pugi::xml_node element);
// The copied element, or an empty node for nullptr.
pugi::xml_node copiedElement(const ElementCopy& copy);

}  // namespace velmora
