#pragma once

#include <pugixml.hpp>

#include <string>
#include <utility>

namespace velmora {

// One paper bin (tray) of a printer.
class Bin {
  public:
    Bin() = default;
    // Reads a "bin" element of the printer XML.
    explicit Bin(pugi::xml_node element);

    const std::string& code() const { return code_; }
    void setCode(std::string code) { code_ = std::move(code); }
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }

    // Appends the sharing side's "bin" element: "name", "bin".
    pugi::xml_node appendXml(pugi::xml_node parent) const;

  private:
    std::string code_;
    std::string title_;
};

}  // namespace velmora
