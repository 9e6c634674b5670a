#include "console/app/controller/AppController.h"

#include <algorithm>

#include "console/jobs/HTTPServer.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/Deployment.h"

namespace velmora::console {

AppController::AppController(ConsoleConfig& config, ConsoleInetProvider& inetProvider,
                             HTTPServer& server, uint16_t port)
    : config_(config),
      inetProvider_(inetProvider),
      server_(server),
      port_(port),
      logger_(std::string(deployment::kLogSubsystem), "main") {}

void AppController::applicationDidFinishLaunching() {
    server_.registerDefaultHandlers();
    if (!server_.start(port_))
        logger_.error("The direct print server is not running: {}",
                      server_.lastError().value_or("unknown error"));
}

void AppController::applicationWillTerminate() {
    if (!config_.token().empty()) {
        // Its answer is ignored, and whoever stops the console will not wait long: a service
        // that stalls it must not hold the quit for the usual request deadline.
        InetProvider::Deadlines deadlines = inetProvider_.deadlines();
        deadlines.soapSeconds = std::min(deadlines.soapSeconds, kQuitLogoffSeconds);
        inetProvider_.setDeadlines(deadlines);
        inetProvider_.logoff();
    }
    server_.stop();
}

}  // namespace velmora::console
