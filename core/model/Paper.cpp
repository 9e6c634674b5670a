#include "core/model/Paper.h"

#include "core/xml/XmlHelpers.h"

#include <climits>
#include <cmath>

namespace velmora {

namespace {

constexpr int kLetterWidth = 2160;
constexpr int kLetterHeight = 2790;

std::string titleOf(pugi::xml_node element) {
    std::string name = getAttribute(element, "name");
    if (!name.empty())
        return name;
    return childText(element, ".");
}

}  // namespace

Paper::Paper()
    : systemWidth_(mcmToSystem(kLetterWidth)), systemHeight_(mcmToSystem(kLetterHeight)) {}

Paper::Paper(pugi::xml_node element)
    : format_(getAttribute(element, "format")),
      title_(titleOf(element)),
      systemWidth_(mcmToSystem(intFromText(getAttribute(element, "width")))),
      systemHeight_(mcmToSystem(intFromText(getAttribute(element, "height")))) {
    std::string customText = getAttribute(element, "custom");
    if (!customText.empty() && boolFromText(customText)) {
        custom_ = true;
    } else {
        // A paper without a size can only be one the user sizes when printing.
        custom_ = width() == 0 || height() == 0;
    }
}

double Paper::mcmToSystem(int mcm) {
    return static_cast<double>(mcm) * 72.0 / 254.0;
}

int Paper::systemToMcm(double points) {
    double mcm = points * 254.0 / 72.0;
    if (std::isnan(mcm))
        return 0;
    // Converting a double outside the int range is undefined; sizes from the print system are
    // not trusted to stay inside it.
    if (mcm >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (mcm <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(mcm);
}

pugi::xml_node Paper::appendXml(pugi::xml_node parent) const {
    pugi::xml_node element = appendElement(parent, "paper");
    setAttribute(element, "name", title_);
    setAttribute(element, "format", format_);
    setAttribute(element, "width", width());
    setAttribute(element, "height", height());
    return element;
}

}  // namespace velmora
