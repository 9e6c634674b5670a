#include "sender/ServiceUrl.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace velmora {

namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextDeleter {
    void operator()(char* text) const { curl_free(text); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

constexpr size_t kMaxUrlLength = 8192;

bool hasControlOrSpace(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
}

std::optional<std::string> part(CURLU* url, CURLUPart which) {
    char* raw = nullptr;
    if (curl_url_get(url, which, &raw, 0) != CURLUE_OK || raw == nullptr)
        return std::nullopt;
    CurlText text(raw);
    return std::string(text.get());
}

// Parses an absolute URL; nullptr when it is not one.
UrlHandle parsed(std::string_view text) {
    if (text.empty() || text.size() > kMaxUrlLength || hasControlOrSpace(text))
        return nullptr;
    UrlHandle url(curl_url());
    if (!url)
        return nullptr;
    const std::string copy(text);
    // Only a URL that names its scheme counts; no guessing of one.
    if (curl_url_set(url.get(), CURLUPART_URL, copy.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
        CURLUE_OK) {
        return nullptr;
    }
    return url;
}

}  // namespace

bool ServiceUrl::isHttpUrl(std::string_view text) {
    UrlHandle url = parsed(text);
    if (!url)
        return false;
    const std::optional<std::string> scheme = part(url.get(), CURLUPART_SCHEME);
    const std::optional<std::string> host = part(url.get(), CURLUPART_HOST);
    return scheme && (*scheme == "http" || *scheme == "https") && host && !host->empty();
}

std::string ServiceUrl::hostOf(std::string_view url) {
    UrlHandle handle = parsed(url);
    if (!handle)
        return {};
    return part(handle.get(), CURLUPART_HOST).value_or(std::string());
}

}  // namespace velmora
