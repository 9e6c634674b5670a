#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmora::backend {

// One job as the scheduler hands it to the backend: job id, user, title, copies, options and
// optionally the file (else the data comes on standard input), plus the queue's name.
struct BackendJob {
    int jobId = 0;
    std::string user;
    std::string title;
    int copies = 1;
    std::map<std::string, std::string> options;  // as cupsParseOptions reads them
    std::optional<std::string> file;
    std::string queue;

    // `arguments` without the program name: 5 or 6 of them. nullopt with a reason otherwise.
    static std::optional<BackendJob> parse(std::span<const std::string> arguments,
                                           std::string queue, std::string& error);

    // The sender's "key=value" arguments: queue, spool folder, user, title, copies, media,
    // input slot, duplex and collation.
    std::vector<std::string> senderOptions(const std::string& spoolDir) const;
};

}  // namespace velmora::backend
