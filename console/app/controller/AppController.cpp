#include "console/app/controller/AppController.h"

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
    if (!config_.token().empty())
        inetProvider_.logoff();
    server_.stop();
}

}  // namespace velmora::console
