#include "core/account/PermissionArray.h"

#include "core/xml/XmlHelpers.h"

namespace velmora {

bool PermissionArray::removeObjectAtIndex(size_t index) {
    if (index >= permissions_.size())
        return false;
    permissions_.erase(permissions_.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

int PermissionArray::getDefaultPermission() const {
    for (const Permission& permission : permissions_) {
        if (!permission.person())
            return permission.value();
    }
    return Permission::kAsk;
}

int PermissionArray::getPermissionFor(int serverId) const {
    for (const Permission& permission : permissions_) {
        if (permission.person() && permission.person()->serverId() == serverId)
            return permission.value();
    }
    return getDefaultPermission();
}

void PermissionArray::parse(pugi::xml_node response) {
    permissions_.clear();
    permissions_.emplace_back(std::nullopt, Permission::kAsk);
    for (pugi::xml_node rule : selectNodes(response, "rule")) {
        int value = Permission::valueForCode(getAttribute(rule, "permission"));
        pugi::xml_node client = selectSingleNode(rule, "client");
        if (!client) {
            permissions_.front().setValue(value);
            continue;
        }
        Person person;
        person.parse(client);
        permissions_.emplace_back(std::move(person), value);
    }
}

}  // namespace velmora
