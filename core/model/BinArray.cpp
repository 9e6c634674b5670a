#include "core/model/BinArray.h"

#include <algorithm>
#include <utility>

namespace velmora {

const Bin* BinArray::getBin(std::string_view code) const {
    auto hit = std::find_if(array_.begin(), array_.end(),
                            [&](const Bin& entry) { return entry.code() == code; });
    return hit == array_.end() ? nullptr : &*hit;
}

Bin* BinArray::getBin(std::string_view code) {
    return const_cast<Bin*>(std::as_const(*this).getBin(code));
}

}  // namespace velmora
