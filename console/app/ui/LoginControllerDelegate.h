#pragma once

namespace velmora::console {

// Told when the sign-in dialog signed a user in (or up): the new token is stored.
class LoginControllerDelegate {
  public:
    virtual ~LoginControllerDelegate() = default;
    virtual void loginControllerOk() = 0;
};

}  // namespace velmora::console
