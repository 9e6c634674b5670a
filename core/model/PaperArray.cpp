#include "core/model/PaperArray.h"

#include <algorithm>
#include <utility>

namespace velmora {

const Paper* PaperArray::getPaper(std::string_view format) const {
    auto hit = std::find_if(array_.begin(), array_.end(),
                            [&](const Paper& entry) { return entry.format() == format; });
    return hit == array_.end() ? nullptr : &*hit;
}

Paper* PaperArray::getPaper(std::string_view format) {
    return const_cast<Paper*>(std::as_const(*this).getPaper(format));
}

}  // namespace velmora
