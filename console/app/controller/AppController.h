#pragma once

#include <cstdint>

#include "platform/Logger.h"

namespace velmora::console {

class ConsoleConfig;
class ConsoleInetProvider;
class HTTPServer;

// The application's delegate: starts the direct print server once the program is up, and at
// quit ends the session on the service (the stored token stays) and stops the server.
class AppController {
  public:
    AppController(ConsoleConfig& config, ConsoleInetProvider& inetProvider, HTTPServer& server,
                  uint16_t port);

    // A server that cannot listen is logged; the console runs on without it.
    void applicationDidFinishLaunching();
    // Only once no other thread uses the service client: it shortens the client's deadline.
    void applicationWillTerminate();

    static constexpr double kQuitLogoffSeconds = 5;

  private:
    ConsoleConfig& config_;
    ConsoleInetProvider& inetProvider_;
    HTTPServer& server_;
    uint16_t port_;
    Logger logger_;
};

}  // namespace velmora::console
