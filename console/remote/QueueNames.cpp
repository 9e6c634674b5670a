#include "console/remote/QueueNames.h"

#include <algorithm>

namespace velmora::console {

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the UTF-8 sequence that starts with `lead`; 0 for a byte that cannot start one.
size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

bool isControl(std::string_view character) {
    const auto first = static_cast<unsigned char>(character[0]);
    if (character.size() == 1)
        return first < 0x20 || first == 0x7F;
    // U+0080..U+009F, and the line and paragraph separators U+2028, U+2029.
    if (character.size() == 2 && first == 0xC2)
        return static_cast<unsigned char>(character[1]) <= 0x9F;
    return character == "\xE2\x80\xA8" || character == "\xE2\x80\xA9";
}

}  // namespace

bool QueueNames::isSafePublicId(std::string_view publicId) {
    if (publicId.empty() || publicId.size() > kMaxPublicIdLength)
        return false;
    return std::all_of(publicId.begin(), publicId.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

std::optional<std::string> QueueNames::queueNameFor(std::string_view publicId) {
    if (!isSafePublicId(publicId))
        return std::nullopt;
    return std::string(kPrefix) + std::string(publicId);
}

bool QueueNames::sameQueueName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool QueueNames::hasOurForm(std::string_view queueName) {
    return queueName.size() > kPrefix.size() &&
           sameQueueName(queueName.substr(0, kPrefix.size()), kPrefix) &&
           isSafePublicId(queueName.substr(kPrefix.size()));
}

bool QueueNames::isOurs(std::string_view queueName, std::string_view deviceUri) {
    return hasOurForm(queueName) && deviceUri == kDeviceUri;
}

std::string QueueNames::withoutControlCharacters(std::string_view text) {
    std::string clean;
    size_t at = 0;
    while (at < text.size()) {
        const size_t length = sequenceLength(static_cast<unsigned char>(text[at]));
        bool valid = length > 0 && at + length <= text.size();
        for (size_t i = 1; valid && i < length; ++i)
            valid = isContinuation(static_cast<unsigned char>(text[at + i]));
        if (!valid) {
            ++at;
            continue;
        }
        const std::string_view character = text.substr(at, length);
        if (!isControl(character))
            clean += character;
        at += length;
    }
    return clean;
}

std::string_view QueueNames::cutToBytes(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    size_t end = maxBytes;
    while (end > 0 && isContinuation(static_cast<unsigned char>(text[end])))
        --end;
    return text.substr(0, end);
}

std::string QueueNames::descriptionFor(std::string_view title) {
    const std::string clean = withoutControlCharacters(title);
    return std::string(cutToBytes(clean, kMaxDescriptionBytes - kDescriptionSuffix.size())) +
           std::string(kDescriptionSuffix);
}

}  // namespace velmora::console
