#pragma once

#include <string>
#include <utility>

namespace velmora {

// A group that the service offers for sign-up.
class PrinterGroup {
  public:
    int serverId() const { return serverId_; }
    void setServerId(int serverId) { serverId_ = serverId; }
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }

  private:
    int serverId_ = 0;
    std::string name_;
};

}  // namespace velmora
