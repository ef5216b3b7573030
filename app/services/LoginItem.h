#pragma once

namespace Plovander {

// Start at login through the keep-alive agent.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    // Moves a start-at-login entry of the application itself, left by an earlier version, to the
    // keep-alive agent.
    virtual void migrateFromMainApp() = 0;
};

// Stand-in until start at login exists: registers nothing.
class LoginItemStandIn final : public LoginItem {
public:
    void migrateFromMainApp() override {}
};

} // namespace Plovander
