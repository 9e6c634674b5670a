#pragma once

#include "platform/UniqueFd.h"

#include <QTcpServer>

#include <functional>
#include <utility>

namespace velmora::console {

// A listening socket that hands each accepted connection over as a bare descriptor. A QTcpSocket
// would buffer every read in memory of its own, allocated afresh for each read: an upload would
// then pay for its bytes twice, once in page faults and once in an extra copy.
class DescriptorTcpServer : public QTcpServer {
  public:
    explicit DescriptorTcpServer(std::function<void(UniqueFd)> accepted)
        : accepted_(std::move(accepted)) {}

  protected:
    void incomingConnection(qintptr descriptor) override {
        accepted_(UniqueFd(static_cast<int>(descriptor)));
    }

  private:
    std::function<void(UniqueFd)> accepted_;
};

}  // namespace velmora::console
