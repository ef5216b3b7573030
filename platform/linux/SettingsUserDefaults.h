#pragma once

#include "base/DiskQueue.h"
#include "platform/UserDefaults.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace Platform::Linux {

// The user's settings in an INI file through QSettings. They are read once and kept in memory; each
// change is saved on the disk queue, so that nobody waits for the disk. A file that cannot be read is
// never written: the settings of the run are then kept in memory only.
class SettingsUserDefaults final : public UserDefaults {
public:
    // $XDG_CONFIG_HOME/tessaloy/plovander.conf
    static std::filesystem::path defaultPath();

    SettingsUserDefaults(const std::filesystem::path& file, Overrides overrides,
                         TessaloyBase::DiskQueue disk = TessaloyBase::DiskQueue::inPlace());

    std::optional<std::string> readProblem() const override { return readProblem_; }

protected:
    std::optional<std::string> load(std::string_view key) const override;
    void store(std::string_view key, std::optional<std::string> value) override;

private:
    struct Unsaved;

    const std::filesystem::path path_;
    const TessaloyBase::DiskQueue::File file_;
    std::optional<std::string> readProblem_;
    mutable std::mutex lock_;
    std::map<std::string, std::string, std::less<>> values_;
    // Shared with the saves, which may run after this object is gone.
    const std::shared_ptr<Unsaved> unsaved_;
};

} // namespace Platform::Linux
