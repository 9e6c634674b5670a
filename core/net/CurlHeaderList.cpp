#include "core/net/CurlHeaderList.h"

namespace velmora {

namespace {

bool isSafeHeaderText(const std::string& text) {
    return text.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

bool CurlHeaderList::append(const std::string& line) {
    curl_slist* grown = curl_slist_append(list_.get(), line.c_str());
    if (grown == nullptr)
        return false;
    list_.release();
    list_.reset(grown);
    return true;
}

bool CurlHeaderList::build(const std::map<std::string, std::string>& headers, bool completeSet,
                           std::string& error) {
    for (const auto& [name, value] : headers) {
        if (name.empty() || !isSafeHeaderText(name) || !isSafeHeaderText(value)) {
            error = "Invalid header " + name;
            return false;
        }
        // "Name;" is curl's way to send a header with an empty value.
        if (!append(value.empty() ? name + ";" : name + ": " + value)) {
            error = "Out of memory";
            return false;
        }
    }
    if (completeSet && !append("Accept:")) {
        error = "Out of memory";
        return false;
    }
    return true;
}

}  // namespace velmora
