#include "console/service/ConsoleInetProvider.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>

#include "console/jobs/JobArray.h"
#include "console/jobs/LocalPrinter.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/Translator.h"
#include "core/Deployment.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/config/TextFile.h"
#include "core/model/PrinterGroup.h"
#include "core/model/RemotePrinterArray.h"
#include "core/net/SoapData.h"
#include "core/xml/XmlHelpers.h"

namespace velmora::console {

namespace {

constexpr int kOptionsSignIn = InetProvider::kOptionStoreToken | InetProvider::kOptionReadUser;
constexpr const char* kFastCheckPath = "/fastCheck3.aspx?d=";
constexpr size_t kMarkerLength = 12;
constexpr const char* kSearchFields = "title,location,owner.login,owner.nick,owner.country";

size_t countCharacters(std::string_view utf8) {
    size_t count = 0;
    for (char c : utf8) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

// A number of kilobytes as the update description writes it; 0 for anything else.
double kilobytesFromText(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    double value = 0;
    auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    if (status != std::errc() || !std::isfinite(value))
        return 0;
    return value;
}

void appendToken(const SoapData& data, const Config& config) {
    appendElement(data.element(), "token", config.token());
}

}  // namespace

ConsoleInetProvider::ConsoleInetProvider(ConsoleConfig& config, Person& currentUser, Lists lists,
                                         const Translator& translator)
    : InetProvider(config, currentUser),
      consoleConfig_(config),
      lists_(lists),
      translator_(translator) {}

std::string ConsoleInetProvider::percentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
            byte == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

std::string ConsoleInetProvider::fastCheckUrl(std::string_view serviceUrl,
                                              std::string_view marker) {
    std::string scheme = "https";
    std::string_view rest = serviceUrl;
    if (size_t separator = serviceUrl.find("://"); separator != std::string_view::npos) {
        if (separator > 0)
            scheme = std::string(serviceUrl.substr(0, separator));
        rest = serviceUrl.substr(separator + 3);
    }
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    // Credentials in the service URL are not part of the host.
    if (size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    return scheme + "://" + std::string(authority) + kFastCheckPath + percentEncode(marker);
}

std::string ConsoleInetProvider::updateDescription(int version, double kilobytes) {
    return fmt::format("{}.{}.{} ({:.1f} Mb)", version / 1000, (version % 1000) / 100,
                       version % 100, kilobytes / 1024.0);
}

std::optional<std::string> ConsoleInetProvider::boundedDownload(const std::string& url,
                                                                const Headers* headers,
                                                                std::string& error) const {
    // Change checks and update descriptions are service answers, not page downloads, and they run
    // on the main thread: a service that drips its answer may hold the window no longer than it
    // may with a SOAP reply.
    return downloadData(url, headers, kDefaultDownloadTimeout,
                        {kMaxSoapReplyBytes, deadlines().soapSeconds}, error);
}

bool ConsoleInetProvider::fastCheck(bool& changed, bool& relogin, std::string& error) {
    changed = false;
    relogin = false;

    const Headers headers = dictionaryWithTDTokenHeader();
    std::optional<std::string> reply =
        boundedDownload(fastCheckUrl(config().service(), fastCheckTimestamp_), &headers, error);
    if (!reply)
        return false;
    const std::string& body = *reply;
    if (!isValidUtf8(body)) {
        error = translator_.text(kInvalidXmlText);
        return false;
    }
    if (!body.empty() && body.front() != '<') {
        // Nothing changed: the reply is the marker alone.
        if (countCharacters(body) == kMarkerLength)
            fastCheckTimestamp_ = body;
        return true;
    }

    pugi::xml_document document;
    std::string parseError;
    if (body.empty() || !parseXml(document, body, parseError) || !document.document_element()) {
        error = translator_.text(kInvalidXmlText);
        return false;
    }
    pugi::xml_node root = document.document_element();
    fastCheckTimestamp_ = getAttribute(root, "timestamp");
    if (std::string_view(root.name()) == "relogin" || root.child("subscriptions")) {
        relogin = true;
        return true;
    }
    if (pugi::xml_node pages = root.child("free-pages")) {
        consoleConfig_.setFreePages(intFromText(getAttribute(pages, "amount")));
        changed = true;
    }
    if (pugi::xml_node favorites = root.child("favorites")) {
        lists_.remotePrinters.parse(favorites, true);
        changed = true;
    }
    if (pugi::xml_node dislike = root.child("dislike")) {
        lists_.remotePrinters.remove(dislike);
        changed = true;
    }
    if (pugi::xml_node jobs = root.child("jobs")) {
        lists_.jobs.parse(jobs, true, true);
        changed = true;
    }
    return true;
}

std::optional<std::string> ConsoleInetProvider::checkUpdates(std::string& text) {
    std::optional<UpdateOffer> offer = checkUpdateOffer(text);
    if (!offer)
        return std::nullopt;
    return offer->href;
}

std::optional<UpdateOffer> ConsoleInetProvider::checkUpdateOffer(std::string& text) {
    logger().notice("Check updates");
    const std::string updateUrl = consoleConfig_.updateUrl();
    if (updateUrl.empty()) {
        text = "No update url";
        return std::nullopt;
    }
    const int programVersion = getIntVersion();
    if (programVersion == -1) {
        text = "Incorrect version";
        return std::nullopt;
    }
    std::optional<std::string> body = boundedDownload(updateUrl, nullptr, text);
    if (!body)
        return std::nullopt;
    pugi::xml_document document;
    std::string parseError;
    if (!parseXml(document, *body, parseError) || !document.document_element()) {
        text = translator_.text(kInvalidXmlText);
        return std::nullopt;
    }
    pugi::xml_node offer = document.document_element().child(kUpdatePlatform);
    const int version = intFromText(getAttribute(offer, "version"));
    if (!offer || version <= programVersion) {
        text = translator_.text(kNoUpdateText);
        return std::nullopt;
    }
    const double kilobytes = kilobytesFromText(getAttribute(offer, "size"));
    text = updateDescription(version, kilobytes);
    return UpdateOffer{getAttribute(offer, "href"), version, kilobytes, text};
}

bool ConsoleInetProvider::login(const std::string& loginName, const std::string& password,
                                const std::string& service, std::string& error) {
    SoapData data;
    setAttribute(data.element(), "echo", "minimal");
    appendElement(data.element(), "login", loginName);
    appendElement(data.element(), "password", password);
    SoapResponse response;
    return soapRequest("Login", data.text(), service, response, kOptionsSignIn, error);
}

bool ConsoleInetProvider::loginWithToken(std::string& error) {
    SoapData data;
    setAttribute(data.element(), "echo", "favorites,jobs");
    appendElement(data.element(), "token", config().token());
    lists_.localPrinters.getLookupXml(data.element());
    SoapResponse reply;
    if (!soapRequest("Login", data.text(), config().service(), reply, kOptionsSignIn, error))
        return false;

    pugi::xml_node response = reply.element();
    fastCheckTimestamp_ = getAttribute(response, "timestamp");
    consoleConfig_.setUpdateUrl(childText(response, "update-url"));
    consoleConfig_.setServerMessage(childText(response, "server-message"));
    if (pugi::xml_node pages = response.child("free-pages")) {
        consoleConfig_.setFreePages(intFromText(getAttribute(pages, "amount")));
        std::string buyUrl = getAttribute(pages, "buy-url");
        consoleConfig_.setBuyMoreUrl(buyUrl.empty() ? std::string(deployment::kWebSite)
                                                    : std::move(buyUrl));
    } else {
        consoleConfig_.setFreePages(-1);
        consoleConfig_.setBuyMoreUrl(std::string(deployment::kWebSite));
    }
    lists_.permissions.parse(response);
    lists_.localPrinters.parseLookupXml(response.child("lookup"));
    lists_.remotePrinters.parse(response.child("favorites"), false);
    lists_.jobs.parse(response.child("jobs"), false, true);
    return true;
}

void ConsoleInetProvider::logoff() {
    SoapData data;
    appendToken(data, config());
    SoapResponse response;
    std::string ignored;
    soapRequest("Logoff", data.text(), config().service(), response, 0, ignored);
}

bool ConsoleInetProvider::changePrinter(const std::string& publicId, const std::string& action,
                                        std::string& error) {
    SoapData data;
    setAttribute(data.element(), "echo", "none");
    setAttribute(data.element(), "action", action);
    appendElement(data.element(), "token", config().token());
    appendElement(appendElement(data.element(), "printer"), "public-id", publicId);
    SoapResponse response;
    return soapRequest("ChangePrinters", data.text(), config().service(), response, 0, error);
}

bool ConsoleInetProvider::likePrinter(const std::string& publicId, std::string& error) {
    SoapData data;
    setAttribute(data.element(), "echo", "full");
    setAttribute(data.element(), "action", "like");
    appendElement(data.element(), "token", config().token());
    appendElement(appendElement(data.element(), "printer"), "public-id", publicId);
    SoapResponse response;
    if (!soapRequest("ChangePrinters", data.text(), config().service(), response, 0, error))
        return false;
    lists_.remotePrinters.parse(response.element(), true);
    return true;
}

bool ConsoleInetProvider::addSharePrinter(const LocalPrinter& printer, std::string& error) {
    SoapData data;
    setAttribute(data.element(), "echo", "jobs");
    setAttribute(data.element(), "action",
                 consoleConfig_.likeMyPrinters() ? "add,share,like" : "add,share");
    appendElement(data.element(), "token", config().token());
    printer.getServerXml(data.element());
    SoapResponse response;
    if (!soapRequest("ChangePrinters", data.text(), config().service(), response, 0, error))
        return false;
    lists_.jobs.parse(response.element().child("jobs"), true, true);
    return true;
}

bool ConsoleInetProvider::userRegister(const std::string& mail, const std::string& service,
                                       int groupId, std::string& error) {
    SoapData data;
    appendElement(appendElement(data.element(), "user"), "mail", mail);
    if (groupId > 0)
        appendElement(data.element(), "group", groupId);
    SoapResponse response;
    return soapRequest("UserRegister", data.text(), service, response, kOptionsSignIn, error);
}

bool ConsoleInetProvider::updateProfile(std::string& error) {
    SoapData data;
    appendToken(data, config());
    currentUser().getXml(data.element(), "user", false);
    SoapResponse response;
    return soapRequest("UpdateProfile", data.text(), config().service(), response, 0, error);
}

bool ConsoleInetProvider::changePassword(const std::string& oldPassword,
                                         const std::string& newPassword, std::string& error) {
    SoapData data;
    appendToken(data, config());
    appendElement(data.element(), "old-password", oldPassword);
    appendElement(data.element(), "new-password", newPassword);
    SoapResponse response;
    return soapRequest("ChangePassword", data.text(), config().service(), response,
                       kOptionStoreToken, error);
}

bool ConsoleInetProvider::passwordReminder(const std::string& mail, const std::string& service,
                                           std::string& error) {
    SoapData data;
    appendElement(data.element(), "mail", mail);
    SoapResponse response;
    return soapRequest("PasswordReminder", data.text(), service, response, 0, error);
}

bool ConsoleInetProvider::setPermission(const std::optional<std::string>& code, int personId,
                                        std::string& error) {
    SoapData data;
    appendToken(data, config());
    pugi::xml_node rule = appendElement(data.element(), "rule");
    setAttribute(rule, "permission", code ? std::string_view(*code) : std::string_view("-1"));
    if (personId != 0)
        setAttribute(rule, "client", personId);
    SoapResponse response;
    return soapRequest("SetPermission", data.text(), config().service(), response, 0, error);
}

bool ConsoleInetProvider::searchUsers(const std::string& keyword, std::vector<Person>& users,
                                      std::string& error) {
    SoapData data;
    appendToken(data, config());
    appendElement(data.element(), "keyword", keyword);
    SoapResponse response;
    if (!soapRequest("SearchUsers", data.text(), config().service(), response, 0, error))
        return false;
    for (pugi::xml_node user : response.element().children("user")) {
        Person person;
        person.parse(user);
        users.push_back(std::move(person));
    }
    return true;
}

bool ConsoleInetProvider::searchPrinters(const std::string& keyword, bool online,
                                         RemotePrinterArray& printers, std::string& error) {
    SoapData data;
    setAttribute(data.element(), "page-size", "100");
    if (online)
        setAttribute(data.element(), "online", "true");
    appendElement(data.element(), "token", config().token());
    appendElement(data.element(), "keyword", keyword);
    appendElement(data.element(), "fields", kSearchFields);
    SoapResponse response;
    if (!soapRequest("SearchPrinters", data.text(), config().service(), response, 0, error))
        return false;
    printers.parse(response.element(), false);
    return true;
}

bool ConsoleInetProvider::getServerConfig(const std::string& service,
                                          std::vector<PrinterGroup>& groups,
                                          std::map<std::string, std::string>& properties,
                                          std::string& error) {
    SoapData data;
    SoapResponse response;
    if (!soapRequest("GetServerConfig", data.text(), service, response, 0, error))
        return false;
    for (pugi::xml_node element : response.element().child("groups").children("group")) {
        PrinterGroup group;
        group.setServerId(intFromText(getAttribute(element, "id")));
        group.setName(getAttribute(element, "name"));
        groups.push_back(std::move(group));
    }
    for (pugi::xml_node property : response.element().children("property"))
        properties[getAttribute(property, "name")] = childText(property, ".");
    return true;
}

}  // namespace velmora::console
