#pragma once

#include <QString>

namespace velmora::console {

// The server address of the sign-in dialog: a scheme and host (and port), to which the service
// endpoint's path is appended. The list of known servers is stored comma-separated.
class ServerAddress {
  public:
    // The typed text as an address: without a scheme it becomes "https://" + text, so a
    // password never leaves in clear by accident; a scheme other than http or https, a comma,
    // white space or control characters are refused with the reason in `error`.
    static bool fromTyped(const QString& typed, QString& address, QString& error);
    // The address of a stored service endpoint: its scheme ("https" when it has none), host and
    // port; empty when it names no host.
    static QString ofService(const QString& service);
    static QString endpoint(const QString& address);

    static constexpr qsizetype kMaxLength = 2048;
};

}  // namespace velmora::console
