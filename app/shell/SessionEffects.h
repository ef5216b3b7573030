#pragma once

#include "core/SessionMessage.h"

namespace Platform {
class UserDefaults;
}

namespace Plovander {

class InputInjector;
class SessionModel;
struct SessionLink;
struct SessionServices;

// What a session does to this computer besides showing it: the blanked screen, the locked local
// input, input held down for the device, keeping the computer awake and starting it at login.
// Main actor only.
class SessionEffects {
public:
    SessionEffects(SessionModel& model, SessionLink& link, SessionServices& services, InputInjector& input,
                   Platform::UserDefaults& defaults);

    // Applies what the device asked for, as far as the session permits, and tells it the outcome.
    void applyPrivacy(TessaloyCore::SessionMessage::PrivacyState wanted);
    // Awake while sharing, or while waiting for paired devices when the user wants that.
    void updateSleepGuard();
    // Remote control went off: nothing stays pressed, and privacy follows what is still allowed.
    void releaseRemoteControl();
    // The session ended: input released, screen shown, local input unlocked.
    void endSession();
    // Repairs the registration when start at login is wanted, then publishes the agent's state,
    // unless the user's last change failed: that failure stays until the next change.
    void refreshLoginItem();
    // The user's choice: recorded, then registered or unregistered; publishes the outcome.
    void setStartAtLogin(bool wanted);

private:
    TessaloyCore::SessionMessage::PrivacyState inForce() const;

    SessionModel& model_;
    SessionLink& link_;
    SessionServices& services_;
    InputInjector& input_;
    Platform::UserDefaults& defaults_;
    bool showsChangeFailure_ = false;
};

} // namespace Plovander
