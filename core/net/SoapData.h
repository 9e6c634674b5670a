#pragma once

#include <pugixml.hpp>

#include <string>

namespace velmora {

// The parameter of a service operation: an element "data" whose subtree belongs to no namespace
// (its first attribute is an empty "xmlns"), serialised without any white space.
class SoapData {
  public:
    SoapData();
    SoapData(const SoapData&) = delete;
    SoapData& operator=(const SoapData&) = delete;

    pugi::xml_node element() const { return data_; }
    std::string text() const;

  private:
    pugi::xml_document document_;
    pugi::xml_node data_;
};

}  // namespace velmora
