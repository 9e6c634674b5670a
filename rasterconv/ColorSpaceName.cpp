#include "ColorSpaceName.h"

#include <array>

namespace velmora {

const char* colorSpaceName(unsigned colorSpace) {
    static constexpr std::array<const char*, 21> kNames = {"W (grayscale)",
                                                           "RGB",
                                                           "RGBA",
                                                           "K (black)",
                                                           "CMY",
                                                           "YMC",
                                                           "CMYK",
                                                           "YMCK",
                                                           "KCMY",
                                                           "KCMYcm",
                                                           "GMCK",
                                                           "GMCS",
                                                           "WHITE",
                                                           "GOLD",
                                                           "SILVER",
                                                           "CIEXYZ",
                                                           "CIELab",
                                                           "RGBW",
                                                           "sW (device grayscale)",
                                                           "sRGB",
                                                           "AdobeRGB"};
    return colorSpace < kNames.size() ? kNames[colorSpace] : "Unknown";
}

}  // namespace velmora
