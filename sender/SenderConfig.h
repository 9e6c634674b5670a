#pragma once

#include "core/config/Config.h"

namespace velmora {

// The printing user's setup as the sender reads it; the sender keeps no settings of its own.
class SenderConfig : public Config {
  public:
    explicit SenderConfig(std::filesystem::path systemDir = defaultSystemDir());
};

}  // namespace velmora
