#pragma once

#include "platform/LoginItems.h"
#include "platform/UserDefaults.h"

#include <string>
#include <utility>

namespace Plovander {

// Start at login through the keep-alive agent: registers it, reports its state, moves an older
// registration of the application itself over to it, and registers it again when another program
// runs than the one recorded. The truth is the system's registration and two settings. Main actor.
class LoginItem final {
public:
    struct State {
        enum class Case { unavailable, enabled, disabled, needsApproval };

        State(Case value = Case::disabled, std::string text = {}) : value(value), text(std::move(text)) {}

        Case value;
        std::string text; // the platform's words, for unavailable only

        // For trace lines: the case name, and for unavailable the quoted text in parentheses.
        std::string printed() const;
        friend bool operator==(const State&, const State&) = default;
    };

    LoginItem(Platform::LoginItems& items, Platform::UserDefaults& defaults) : items_(items), defaults_(defaults) {}

    // Registers (true) or unregisters (false) the agent and returns the resulting state.
    State setEnabled(bool enabled);
    // At launch: an entry of the application itself becomes the agent.
    void migrateFromMainApp();
    // When the controller refreshes the state: `fallbackWanted` stands for the user's wish when
    // none is stored.
    void reconcile(bool fallbackWanted);
    // The agent's state as the system reports it now.
    State agentState();

private:
    Platform::LoginItems& items_;
    Platform::UserDefaults& defaults_;
};

} // namespace Plovander
