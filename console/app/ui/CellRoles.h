#pragma once

#include <Qt>

namespace velmora::console {

// What the printer cells read from a model besides the text they show.
inline constexpr int kIsDefaultRole = Qt::UserRole + 1;

}  // namespace velmora::console
