#include "SoapData.h"

#include <sstream>

namespace velmora {

SoapData::SoapData() : data_(document_.append_child("data")) {
    data_.append_attribute("xmlns");
}

std::string SoapData::text() const {
    std::ostringstream out;
    data_.print(out, "", pugi::format_raw, pugi::encoding_utf8);
    return out.str();
}

}  // namespace velmora
