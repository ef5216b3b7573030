#pragma once

#include "platform/UserDefaults.h"

#include <QSettings>

#include <filesystem>
#include <mutex>

namespace Platform::Linux {

// The user's settings in an INI file through QSettings.
class SettingsUserDefaults final : public UserDefaults {
public:
    // $XDG_CONFIG_HOME/tessaloy/plovander.conf
    static std::filesystem::path defaultPath();

    SettingsUserDefaults(const std::filesystem::path& file, Overrides overrides);

protected:
    std::optional<std::string> load(std::string_view key) const override;
    void store(std::string_view key, std::optional<std::string> value) override;

private:
    mutable std::mutex lock_;
    mutable QSettings settings_;
};

} // namespace Platform::Linux
