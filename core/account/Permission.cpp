#include "core/account/Permission.h"

namespace velmora {

std::string_view Permission::codeForValue(int value) {
    switch (value) {
        case kAllow:
            return "Allow";
        case kBlock:
            return "Block";
        default:
            return "Ask";
    }
}

int Permission::valueForCode(std::string_view code) {
    if (code == "Allow")
        return kAllow;
    if (code == "Block")
        return kBlock;
    return kAsk;
}

}  // namespace velmora
