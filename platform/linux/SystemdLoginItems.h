#pragma once

#include "platform/LoginItems.h"

#include <filesystem>
#include <string>
#include <vector>

namespace Platform::Linux {

// The keep-alive agent as a systemd user unit, enabled through the user's systemd (`systemctl
// --user`) for the graphical session; the application's own legacy item as an XDG autostart entry.
// Both live under the user's configuration folder and run `executable`.
class SystemdLoginItems final : public LoginItems {
public:
    static constexpr const char* agentUnit = "com.tessaloy.plovander.host.agent.service";
    static constexpr const char* mainAppEntry = "com.tessaloy.plovander.host.desktop";

    SystemdLoginItems(std::filesystem::path configHome, std::filesystem::path executable);

    Status status(Item item) override;
    void registerItem(Item item) override;
    void unregisterItem(Item item) override;
    std::filesystem::path program() const override { return executable_; }

private:
    std::filesystem::path unitFile() const;
    std::filesystem::path autostartEntry() const;
    // `systemctl --user` with `arguments`; its output, or LoginItemsError when it fails.
    std::string systemctl(const std::vector<std::string>& arguments, bool failureIsAnswer = false) const;

    std::filesystem::path configHome_;
    std::filesystem::path executable_;
};

} // namespace Platform::Linux
