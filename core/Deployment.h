#pragma once

#include <string>
#include <string_view>

// Values that tie the programs to one deployment of the printing service. They are compiled in;
// a deployment against other servers changes them here and nowhere else.
namespace velmora::deployment {

// Server that a fresh installation talks to.
inline constexpr std::string_view kDefaultServerHost = "service.tandrel.example";
// Second production server; stored addresses that name it are upgraded to https like the default.
inline constexpr std::string_view kAlternateServerHost = "www.tandrel.example";

// Path of the SOAP endpoint on a server.
inline constexpr std::string_view kServicePath = "/tdService.asmx";
// Namespace of the operation element inside the SOAP body.
inline constexpr std::string_view kServiceNamespace = "https://tandrel.example/tdService/";

// The product's web site: home page, help pages and the subscription page's fallback.
inline constexpr std::string_view kWebSite = "https://www.tandrel.example";

// Job password of jobs whose key the service keeps: this prefix followed by the job id in
// decimal. The sender and the receiving console must agree on it.
inline constexpr std::string_view kJobPasswordPrefix = "Vm4k";
static_assert(kJobPasswordPrefix.size() == 4);

// Log subsystem of the shared core, the console and the sender.
inline constexpr std::string_view kLogSubsystem = "com.korvex.velmora";

// "https://" + default host + endpoint path.
inline std::string defaultServiceUrl() {
    return std::string("https://") + std::string(kDefaultServerHost) + std::string(kServicePath);
}

// The job password for a job id.
inline std::string jobPassword(int jobId) {
    return std::string(kJobPasswordPrefix) + std::to_string(jobId);
}

}  // namespace velmora::deployment
