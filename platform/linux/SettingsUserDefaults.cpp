#include "platform/linux/SettingsUserDefaults.h"

#include "platform/linux/XdgDirectories.h"

namespace Platform::Linux {
namespace {

QString qtKey(std::string_view key) { return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())); }

} // namespace

std::filesystem::path SettingsUserDefaults::defaultPath() {
    return XdgDirectories::configHome() / "tessaloy" / "plovander.conf";
}

SettingsUserDefaults::SettingsUserDefaults(const std::filesystem::path& file, Overrides overrides)
    : UserDefaults(std::move(overrides)), settings_(QString::fromStdString(file.string()), QSettings::IniFormat) {
    // QSettings tells a file it could not parse only once it has been asked for a value.
    settings_.allKeys();
    if (settings_.status() == QSettings::FormatError) readProblem_ = file.string() + " is not a settings file";
    if (settings_.status() == QSettings::AccessError) readProblem_ = file.string() + " cannot be read";
}

std::optional<std::string> SettingsUserDefaults::load(std::string_view key) const {
    std::lock_guard guard(lock_);
    if (readProblem_) {
        const auto found = unsaved_.find(key);
        return found == unsaved_.end() ? std::nullopt : std::optional(found->second);
    }
    const QVariant value = settings_.value(qtKey(key));
    if (!value.isValid()) return std::nullopt;
    return value.toString().toStdString();
}

void SettingsUserDefaults::store(std::string_view key, std::optional<std::string> value) {
    std::lock_guard guard(lock_);
    if (readProblem_) {
        if (value) {
            unsaved_.insert_or_assign(std::string(key), std::move(*value));
        } else {
            unsaved_.erase(std::string(key));
        }
        return;
    }
    if (value) {
        settings_.setValue(qtKey(key), QString::fromStdString(*value));
    } else {
        settings_.remove(qtKey(key));
    }
    settings_.sync();
}

} // namespace Platform::Linux
