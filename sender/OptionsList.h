#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmora {

// The job options the print backend hands to the sender, one "key=value" argument each.
// Keys are case-sensitive; a later argument with the same key replaces the earlier value.
class OptionsList {
  public:
    using Map = std::map<std::string, std::string>;

    OptionsList() = default;
    explicit OptionsList(Map values) : values_(std::move(values)) {}

    // The arguments after the program name. The key ends at the first "="; an argument without
    // one is a key with an empty value. Bytes that are not UTF-8 become U+FFFD, so that the job
    // title and the message file stay valid text.
    static OptionsList fromArguments(std::span<const std::string> arguments);
    static std::string validUtf8(std::string_view bytes);

    bool contains(const std::string& key) const { return values_.count(key) != 0; }
    // The value, or nullopt when the key was not given.
    std::optional<std::string> value(const std::string& key) const;
    // The value, or the empty string when the key was not given.
    std::string valueOrEmpty(const std::string& key) const;
    void set(std::string key, std::string value) { values_[std::move(key)] = std::move(value); }

    const Map& values() const { return values_; }

  private:
    Map values_;
};

}  // namespace velmora
