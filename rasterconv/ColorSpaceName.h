#pragma once

namespace velmora {

// The name a CUPS colour-space number is logged under; "Unknown" above 20.
const char* colorSpaceName(unsigned colorSpace);

}  // namespace velmora
