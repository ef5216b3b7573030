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
    : UserDefaults(std::move(overrides)), settings_(QString::fromStdString(file.string()), QSettings::IniFormat) {}

std::optional<std::string> SettingsUserDefaults::load(std::string_view key) const {
    std::lock_guard guard(lock_);
    const QVariant value = settings_.value(qtKey(key));
    if (!value.isValid()) return std::nullopt;
    return value.toString().toStdString();
}

void SettingsUserDefaults::store(std::string_view key, std::optional<std::string> value) {
    std::lock_guard guard(lock_);
    if (value) {
        settings_.setValue(qtKey(key), QString::fromStdString(*value));
    } else {
        settings_.remove(qtKey(key));
    }
    settings_.sync();
}

} // namespace Platform::Linux
