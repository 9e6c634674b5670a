#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "packaging/cups/UserProcess.h"

namespace velmora::backend {

// The per-job folder, made by root inside the backend's spool root and then handed to the
// job's user (mode 0700), so that the converter and the sender, running as that user, own
// what they write there and nobody else can look in.
class SpoolFolder {
  public:
    // The spool root must be a real folder of the running user (root) that others cannot write
    // to; it is made (mode 0711) when missing. nullopt with a reason otherwise.
    static std::optional<std::filesystem::path> create(const std::filesystem::path& spoolRoot,
                                                       int jobId,
                                                       const UserProcess::Account& account,
                                                       std::string& error);
    // Removed as the user, so that nothing the user put inside can make root remove more.
    static void remove(const std::filesystem::path& folder, const UserProcess::Account& account);
};

}  // namespace velmora::backend
