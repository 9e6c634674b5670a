#pragma once

#include "core/config/AtomicString.h"
#include "core/model/Printer.h"

#include <pugixml.hpp>

#include <cstdint>
#include <string>
#include <utility>

namespace velmora::console {

// A printer of this computer's print system that the user may share.
class LocalPrinter : public Printer {
  public:
    struct Size {
        double width = 0;   // points
        double height = 0;  // points
        bool operator==(const Size&) const = default;
    };

    // Fresh identity; sent pages packed, encrypted with "AES" or "AES0", as bmp, jpg, png or pdf.
    LocalPrinter();

    // Takes over "hidden", "public-id" and "title" (the share title) of a saved "printer".
    void updateFromConfigXml(pugi::xml_node element);
    // Short form: "printer" with "hidden", "public-id" and "title".
    pugi::xml_node getXml(pugi::xml_node parent) const;
    // Short form plus "local-title", as the profile file keeps it.
    pugi::xml_node getConfigXml(pugi::xml_node parent) const;
    // Full form with location and details, as the service and nearby clients read it.
    pugi::xml_node getServerXml(pugi::xml_node parent) const;

    // The size of the printer's paper nearest to `size`; `size` itself when the printer has no
    // paper with a usable size, or when `size` is not one.
    Size closestPaperSize(Size size) const;

    // The print system's name of the queue: matches saved settings, opens the printer.
    std::string localTitle() const { return localTitle_.get(); }
    void setLocalTitle(std::string title) { localTitle_.set(std::move(title)); }
    // 3 idle, 4 processing, 5 stopped; 0 when unknown.
    uint16_t localStatus() const { return localStatus_; }
    void setLocalStatus(uint16_t status) { localStatus_ = status; }
    bool shared() const { return shared_; }
    void setShared(bool shared) { shared_ = shared; }
    bool hidden() const { return hidden_; }
    void setHidden(bool hidden) { hidden_ = hidden; }
    // The name written as the "paper-formats" default: the print system's default paper for
    // this printer.
    const std::string& defaultPaperName() const { return defaultPaperName_; }
    void setDefaultPaperName(std::string name) { defaultPaperName_ = std::move(name); }

  private:
    AtomicString localTitle_;
    uint16_t localStatus_ = 0;
    bool shared_ = false;
    bool hidden_ = false;
    std::string defaultPaperName_;
};

}  // namespace velmora::console
