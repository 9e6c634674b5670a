#include "InetProvider.h"

#include <sstream>

#include "core/Deployment.h"
#include "core/account/Person.h"
#include "core/config/Config.h"
#include "core/net/SoapData.h"
#include "core/xml/XmlHelpers.h"

namespace velmora {

namespace {

constexpr const char* kProgramVersion = "1.6.1";
constexpr const char* kSoapNamespace = "https://schemas.xmlsoap.org/soap/envelope/";

std::shared_ptr<pugi::xml_document> parseReply(const std::string& body, std::string& error) {
    if (xmlNodeCountBound(body) > InetProvider::kMaxSoapReplyNodes) {
        error = "The service's reply holds too many elements";
        return nullptr;
    }
    if (holdsNulCharacterReference(body)) {
        error = "The service's reply refers to character 0";
        return nullptr;
    }
    auto document = std::make_shared<pugi::xml_document>();
    pugi::xml_parse_result result = document->load_buffer(body.data(), body.size());
    if (!result) {
        error = result.description() != nullptr && *result.description() != '\0'
                    ? std::string(result.description())
                    : "Invalid XML in response";
        return nullptr;
    }
    return document;
}

// The service's booleans may carry leading blanks, signs and zeros ("  +0001").
bool successValue(std::string_view text) {
    size_t i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
            text[i] == '+' || text[i] == '-' || text[i] == '0')) {
        ++i;
    }
    return boolFromText(text.substr(i));
}

}  // namespace

InetProvider::InetProvider(Config& config, Person& currentUser)
    : config_(config),
      currentUser_(currentUser),
      logger_(std::string(deployment::kLogSubsystem), "service") {}

std::string InetProvider::userAgent() {
    return std::string("VL4MacOS ") + kProgramVersion;
}

InetProvider::Headers InetProvider::dictionaryWithTDTokenHeader() const {
    return {{"TD-Token", config_.token()}};
}

std::optional<std::string> InetProvider::downloadData(const std::string& url,
                                                      const Headers* headers, double timeoutSeconds,
                                                      std::string& error) const {
    return downloadData(url, headers, timeoutSeconds,
                        {HttpClient::kDefaultMaxResponseBytes, deadlines_.downloadSeconds}, error);
}

std::optional<std::string> InetProvider::downloadData(const std::string& url,
                                                      const Headers* headers, double timeoutSeconds,
                                                      const DownloadBounds& bounds,
                                                      std::string& error) const {
    HttpClient::Request request;
    request.url = url;
    if (headers != nullptr) {
        request.headers = *headers;
        request.completeHeaderSet = true;
    }
    request.headers["User-Agent"] = userAgent();
    request.timeoutSeconds = timeoutSeconds;
    request.deadlineSeconds = bounds.deadlineSeconds;
    request.maxResponseBytes = bounds.maxBytes;
    request.bodyOnlyForStatus = 200;
    HttpClient::Response response = HttpClient::perform(request);
    if (!response.transportOk) {
        error = response.error;
        return std::nullopt;
    }
    if (response.status != 200) {
        error = HttpClient::statusPhrase(response.status);
        return std::nullopt;
    }
    return std::move(response.body);
}

std::string InetProvider::soapEnvelope(const std::string& operation, const std::string& data) {
    std::string body;
    body.reserve(data.size() + operation.size() * 2 + 256);
    body += "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    body += "<soap:Envelope xmlns:soap=\"";
    body += kSoapNamespace;
    body += "\"><soap:Body>\r\n<";
    body += operation;
    body += " xmlns=\"";
    body += deployment::kServiceNamespace;
    body += "\"><Param>";
    body += data;
    body += "</Param></";
    body += operation;
    body += ">\r\n</soap:Body></soap:Envelope>";
    return body;
}

bool InetProvider::soapRequest(const std::string& operation, const std::string& data,
                               const std::string& service, SoapResponse& response, int options,
                               std::string& error) {
    logger_.notice("Sync request: {}", operation);
    // A caller that reuses its response must not read an earlier reply after a failure.
    response = SoapResponse();

    HttpClient::Request request;
    request.method = "POST";
    request.url = service;
    request.headers = {{"Content-Type", "text/xml"}, {"User-Agent", userAgent()}};
    request.body = soapEnvelope(operation, data);
    request.timeoutSeconds = kSoapTimeout;
    request.deadlineSeconds = deadlines_.soapSeconds;
    request.maxResponseBytes = kMaxSoapReplyBytes;
    HttpClient::Response reply = HttpClient::perform(request);
    if (!reply.transportOk) {
        error = reply.error;
        return false;
    }

    std::shared_ptr<pugi::xml_document> document = parseReply(reply.body, error);
    if (!document)
        return false;
    pugi::xml_node element = findNodeByName(*document, "response");
    if (!element) {
        error = "Invalid XML in response";
        return false;
    }
    response = SoapResponse(document, element);

    if (!successValue(getAttribute(element, "success"))) {
        pugi::xml_node message = element.child("message");
        error = message ? childText(element, "message") : "Service reported error";
        return false;
    }
    if (options & kOptionStoreToken) {
        std::string token = childText(element, "token");
        if (token.empty()) {
            error = "No token in response";
            return false;
        }
        config_.setToken(std::move(token));
    }
    if (options & kOptionReadUser) {
        pugi::xml_node user = element.child("user");
        if (!user) {
            error = "No user data in response";
            return false;
        }
        currentUser_.parse(user);
        config_.setLastEmail(currentUser_.mail());
    }
    return true;
}

bool InetProvider::getKey(std::string& key, int jobId, const std::string& password, bool make,
                          std::string& error) {
    SoapData parameter;
    pugi::xml_node data = parameter.element();
    appendElement(data, "token", config_.token());
    setAttribute(appendElement(data, "job"), "id", jobId);
    appendElement(data, "password", password);

    SoapResponse response;
    if (!soapRequest(make ? "MakeKey" : "GetKey", parameter.text(), config_.service(), response, 0,
                     error)) {
        return false;
    }
    key = childText(response.element(), "file-key");
    return true;
}

bool InetProvider::changeJob(int jobId, int status, std::string& error) {
    SoapData parameter;
    pugi::xml_node data = parameter.element();
    appendElement(data, "token", config_.token());
    pugi::xml_node job = appendElement(data, "job");
    setAttribute(job, "id", jobId);
    setAttribute(job, "new-status", status);

    SoapResponse response;
    return soapRequest("UpdateJob", parameter.text(), config_.service(), response, 0, error);
}

int InetProvider::getIntVersion() {
    return intVersionOf(kProgramVersion);
}

int InetProvider::intVersionOf(const std::string& version) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(version);
    while (std::getline(in, part, '.'))
        parts.push_back(part);
    if (!version.empty() && version.back() == '.')
        parts.emplace_back();
    if (parts.size() < 2 || parts.size() > 3)
        return -1;
    int number = intFromText(parts[0]) * 1000 + intFromText(parts[1]) * 100;
    if (parts.size() == 3)
        number += intFromText(parts[2]);
    return number;
}

}  // namespace velmora
