#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::console {

// What makes a print queue one of ours, and the texts that go into its name and description.
// The ids and titles come from other users through the service, so nothing here trusts them.
class QueueNames {
  public:
    static constexpr std::string_view kPrefix = "Velmora_";
    static constexpr std::string_view kDeviceUri = "velmora:/";
    static constexpr std::string_view kDescriptionSuffix = " (Velmora)";
    // The scheduler keeps a description of at most 127 bytes.
    static constexpr size_t kMaxDescriptionBytes = 127;
    static constexpr size_t kMaxPublicIdLength = 100;

    // Letters, digits, '-' and '_' only: no space, slash, dot, quote or control character can
    // reach a queue name, a command's argument or a path.
    static bool isSafePublicId(std::string_view publicId);
    // "Velmora_" + the id; nullopt for an id that is not safe.
    static std::optional<std::string> queueNameFor(std::string_view publicId);
    // The scheduler treats queue names without regard to case, and so do we.
    static bool sameQueueName(std::string_view a, std::string_view b);
    // A name of our form: the prefix (any case) and a safe id.
    static bool hasOurForm(std::string_view queueName);
    // Ours only when the name has our form *and* the queue prints to our device; a queue an
    // administrator named alike for another device is never changed.
    static bool isOurs(std::string_view queueName, std::string_view deviceUri);
    // The title without control characters, cut on a character boundary so that with the
    // suffix it fits the scheduler's limit, followed by " (Velmora)".
    static std::string descriptionFor(std::string_view title);
    // Text with every control character (C0, DEL, C1) removed; invalid UTF-8 bytes too.
    static std::string withoutControlCharacters(std::string_view text);
    // The longest prefix of at most `maxBytes` bytes that does not split a UTF-8 character.
    static std::string_view cutToBytes(std::string_view text, size_t maxBytes);
};

}  // namespace velmora::console
