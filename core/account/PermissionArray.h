#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <vector>

#include "core/account/Permission.h"

namespace velmora {

// The signed-in user's rules for incoming jobs, in the order the service gave them. After
// parse() the first entry is the rule for anyone.
class PermissionArray {
  public:
    size_t count() const { return permissions_.size(); }
    // Precondition: index < count().
    const Permission& objectAtIndex(size_t index) const { return permissions_.at(index); }
    Permission& objectAtIndex(size_t index) { return permissions_.at(index); }
    // False, changing nothing, for an index out of range.
    bool removeObjectAtIndex(size_t index);
    void removeAllObjects() { permissions_.clear(); }
    void addObject(Permission permission) { permissions_.push_back(std::move(permission)); }

    // The value of the first rule without a person; Ask when there is none.
    int getDefaultPermission() const;
    // The value of the first rule whose person has `serverId`; else the default.
    int getPermissionFor(int serverId) const;

    // Replaces the list from the log-in reply's response element: the rule for anyone (Ask
    // unless a "rule" without "client" says otherwise; the last such wins), then one rule per
    // "rule" with a "client", in document order.
    void parse(pugi::xml_node response);

  private:
    std::vector<Permission> permissions_;
};

}  // namespace velmora
