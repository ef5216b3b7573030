#pragma once

#include "platform/UserDefaults.h"

#include <QSettings>

#include <filesystem>
#include <map>
#include <mutex>

namespace Platform::Linux {

// The user's settings in an INI file through QSettings. A file that cannot be read is never written:
// the settings of the run are then kept in memory.
class SettingsUserDefaults final : public UserDefaults {
public:
    // $XDG_CONFIG_HOME/tessaloy/plovander.conf
    static std::filesystem::path defaultPath();

    SettingsUserDefaults(const std::filesystem::path& file, Overrides overrides);

    std::optional<std::string> readProblem() const override { return readProblem_; }

protected:
    std::optional<std::string> load(std::string_view key) const override;
    void store(std::string_view key, std::optional<std::string> value) override;

private:
    mutable std::mutex lock_;
    mutable QSettings settings_;
    std::optional<std::string> readProblem_;
    // This run's settings while the file cannot be read.
    std::map<std::string, std::string, std::less<>> unsaved_;
};

} // namespace Platform::Linux
