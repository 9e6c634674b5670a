#pragma once

#include <optional>
#include <string>

#include "core/net/HttpClient.h"
#include "core/net/SoapResponse.h"
#include "core/xml/XmlHelpers.h"
#include "platform/Logger.h"

namespace velmora {

class Config;
class Person;

// The client side of the printing service: one SOAP request per operation, plain downloads
// with the session's identity headers, and the operations that console and sender share.
// Calls block the calling thread until the reply or the transport error arrives.
class InetProvider {
  public:
    using Headers = HttpClient::Headers;

    // Overall limits of one request, connection included. Each is the most a peer can hold the
    // caller, however it paces its answer; the idle time-outs apply within them.
    struct Deadlines {
        double soapSeconds = 120;
        double downloadSeconds = 600;
        double uploadSeconds = 300;  // one range of a page
        double probeSeconds = 2;     // a nearby console's "/hello"
    };

    // Options of soapRequest().
    static constexpr int kOptionStoreToken = 1;
    static constexpr int kOptionReadUser = 2;

    // `currentUser` is the process's signed-in user, filled by calls that ask for user data.
    InetProvider(Config& config, Person& currentUser);
    virtual ~InetProvider() = default;
    InetProvider(const InetProvider&) = delete;
    InetProvider& operator=(const InetProvider&) = delete;

    static std::string userAgent();
    Headers dictionaryWithTDTokenHeader() const;

    // Body of a 200 reply; nullopt with the reason otherwise. `headers`, when given, is the
    // request's complete header set (plus "User-Agent").
    std::optional<std::string> downloadData(const std::string& url, const Headers* headers,
                                            double timeoutSeconds, std::string& error) const;
    std::optional<std::string> downloadData(const std::string& url, const Headers* headers,
                                            std::string& error) const {
        return downloadData(url, headers, kDefaultDownloadTimeout, error);
    }

    // What one download may cost: its size, and its whole time however the answer is paced.
    struct DownloadBounds {
        size_t maxBytes;
        double deadlineSeconds;
    };
    std::optional<std::string> downloadData(const std::string& url, const Headers* headers,
                                            double timeoutSeconds, const DownloadBounds& bounds,
                                            std::string& error) const;

    // `data` is the serialised "data" element; it goes into the envelope unescaped.
    bool soapRequest(const std::string& operation, const std::string& data,
                     const std::string& service, SoapResponse& response, int options,
                     std::string& error);

    bool getKey(std::string& key, int jobId, const std::string& password, bool make,
                std::string& error);
    bool changeJob(int jobId, int status, std::string& error);

    // "1.6.1" as 1601; -1 when the version has fewer than two or more than three parts.
    static int getIntVersion();
    static int intVersionOf(const std::string& version);

    // The exact bytes posted for an operation.
    static std::string soapEnvelope(const std::string& operation, const std::string& data);

    const Deadlines& deadlines() const { return deadlines_; }
    void setDeadlines(const Deadlines& deadlines) { deadlines_ = deadlines; }

    Config& config() const { return config_; }
    Person& currentUser() const { return currentUser_; }

    static constexpr double kDefaultDownloadTimeout = 10;
    static constexpr double kSoapTimeout = 60;
    // Real replies, even a sign-in with thousands of favourites, stay far below these.
    static constexpr size_t kMaxSoapReplyBytes = size_t{16} << 20;
    static constexpr size_t kMaxSoapReplyNodes = kMaxXmlNodes;

  protected:
    const Logger& logger() const { return logger_; }

  private:
    Config& config_;
    Person& currentUser_;
    Logger logger_;
    Deadlines deadlines_;
};

}  // namespace velmora
