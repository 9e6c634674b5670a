#pragma once

#include <pugixml.hpp>

#include <string>
#include <utility>

namespace velmora {

// One paper size of a printer. The size is kept in points (1/72 inch), the unit of the print
// system; `width`/`height` convert to tenths of a millimetre on every access, so a value set
// in tenths of a millimetre may read back one less (453 reads back as 452).
class Paper {
  public:
    Paper();
    // Reads a "paper" or "paper-format" element of the printer XML.
    explicit Paper(pugi::xml_node element);

    // Tenths of a millimetre to points.
    static double mcmToSystem(int mcm);
    // Points to tenths of a millimetre, truncated toward zero; 0 for a size that is not a number,
    // saturated at the ends of the int range.
    static int systemToMcm(double points);

    int width() const { return systemToMcm(systemWidth_); }
    void setWidth(int mcm) { systemWidth_ = mcmToSystem(mcm); }
    int height() const { return systemToMcm(systemHeight_); }
    void setHeight(int mcm) { systemHeight_ = mcmToSystem(mcm); }

    const std::string& format() const { return format_; }
    void setFormat(std::string format) { format_ = std::move(format); }
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    double systemWidth() const { return systemWidth_; }
    void setSystemWidth(double points) { systemWidth_ = points; }
    double systemHeight() const { return systemHeight_; }
    void setSystemHeight(double points) { systemHeight_ = points; }
    bool custom() const { return custom_; }
    void setCustom(bool custom) { custom_ = custom; }

    // Appends the sharing side's "paper" element: "name", "format", "width", "height".
    pugi::xml_node appendXml(pugi::xml_node parent) const;

  private:
    std::string format_;
    std::string title_;
    double systemWidth_;
    double systemHeight_;
    bool custom_ = false;
};

}  // namespace velmora
