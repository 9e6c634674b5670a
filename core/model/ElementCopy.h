#pragma once

#include <pugixml.hpp>

#include <memory>

namespace velmora {

// An immutable copy of one flat XML element, cheap to copy along with the record that carries
// it. Records keep the person elements they receive this way (a printer's owner, a job's
// sender): attributes plus child elements that each hold text.
using ElementCopy = std::shared_ptr<const pugi::xml_document>;

// A copy of `element` with its attributes and, for each child element, an element of the same
// name holding the child's text (all text below it). Anything nested deeper is flattened into
// that text, so input from the network cannot make the record, or the files it is saved to,
// grow in depth. nullptr for no element.
ElementCopy copyElement(pugi::xml_node element);
// The copied element, or an empty node for nullptr.
pugi::xml_node copiedElement(const ElementCopy& copy);

}  // namespace velmora
