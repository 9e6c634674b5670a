#pragma once

#include <pugixml.hpp>

#include <memory>

namespace velmora {

// The "response" element of a service reply, keeping its document alive for as long as the
// caller holds it.
class SoapResponse {
  public:
    SoapResponse() = default;
    SoapResponse(std::shared_ptr<pugi::xml_document> document, pugi::xml_node element)
        : document_(std::move(document)), element_(element) {}

    pugi::xml_node element() const { return element_; }
    explicit operator bool() const { return static_cast<bool>(element_); }

  private:
    std::shared_ptr<pugi::xml_document> document_;
    pugi::xml_node element_;
};

}  // namespace velmora
