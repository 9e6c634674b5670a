#pragma once

#include <optional>
#include <string_view>

#include "core/account/Person.h"

namespace velmora {

// One of the signed-in user's rules for incoming jobs: for one person, or (without a person)
// for anyone.
class Permission {
  public:
    // What happens to a job from the rule's person.
    enum Value { kAsk = 0, kAllow = 1, kBlock = 2 };

    Permission() = default;
    Permission(std::optional<Person> person, int value)
        : person_(std::move(person)), value_(value) {}

    // "Allow" for 1, "Block" for 2, "Ask" for anything else.
    static std::string_view codeForValue(int value);
    // The inverse as the service's codes are read: exactly "Allow" or "Block", else Ask.
    static int valueForCode(std::string_view code);

    const std::optional<Person>& person() const { return person_; }
    void setPerson(std::optional<Person> person) { person_ = std::move(person); }
    int value() const { return value_; }
    void setValue(int value) { value_ = value; }

  private:
    std::optional<Person> person_;
    int value_ = kAsk;
};

}  // namespace velmora
