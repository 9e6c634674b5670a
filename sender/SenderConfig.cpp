#include "sender/SenderConfig.h"

namespace velmora {

SenderConfig::SenderConfig(std::filesystem::path systemDir) : Config(std::move(systemDir)) {}

}  // namespace velmora
