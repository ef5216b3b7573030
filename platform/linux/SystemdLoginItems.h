#pragma once

#include "platform/LoginItems.h"

#include <filesystem>

namespace Platform::Linux {

// The keep-alive agent as a systemd user unit, enabled for the next login the way
// `systemctl --user enable` does it (a link in default.target.wants); the application's own legacy
// item as an XDG autostart entry. Both live under the user's configuration folder and run
// `executable`.
class SystemdLoginItems final : public LoginItems {
public:
    static constexpr const char* agentUnit = "com.tessaloy.plovander.host.agent.service";
    static constexpr const char* mainAppEntry = "com.tessaloy.plovander.host.desktop";

    SystemdLoginItems(std::filesystem::path configHome, std::filesystem::path executable);

    Status status(Item item) override;
    void registerItem(Item item) override;
    void unregisterItem(Item item) override;

private:
    std::filesystem::path unitFile() const;
    std::filesystem::path wantsLink() const;
    std::filesystem::path autostartEntry() const;

    std::filesystem::path configHome_;
    std::filesystem::path executable_;
};

} // namespace Platform::Linux
