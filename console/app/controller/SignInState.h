#pragma once

#include <string_view>

namespace velmora::console {

// Where the main controller stands with the service. Only the controller moves it; the rest
// of the program and the tests read it.
class SignInState {
  public:
    enum class State { Starting, Connecting, SignedIn, LoginFailed, PollFailed, SignedOut };

    State state() const { return state_; }

    void connecting() { state_ = State::Connecting; }
    void signedIn() { state_ = State::SignedIn; }
    void loginFailed() { state_ = State::LoginFailed; }
    void pollFailed() { state_ = State::PollFailed; }
    void signedOut() { state_ = State::SignedOut; }

    static std::string_view name(State state) {
        switch (state) {
            case State::Starting:
                return "starting";
            case State::Connecting:
                return "connecting";
            case State::SignedIn:
                return "signed in";
            case State::LoginFailed:
                return "login failed";
            case State::PollFailed:
                return "poll failed";
            case State::SignedOut:
                return "signed out";
        }
        return "unknown";
    }

  private:
    State state_ = State::Starting;
};

}  // namespace velmora::console
