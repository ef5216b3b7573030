#include "platform/linux/SettingsUserDefaults.h"

#include "platform/linux/XdgDirectories.h"

#include <QSettings>

#include <stdexcept>

namespace Platform::Linux {
namespace {

QString qtKey(std::string_view key) { return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())); }

} // namespace

// The keys set (or removed, nullopt) that no save has written yet.
struct SettingsUserDefaults::Unsaved {
    std::mutex lock;
    std::map<std::string, std::optional<std::string>, std::less<>> changes;
};

std::filesystem::path SettingsUserDefaults::defaultPath() {
    return XdgDirectories::configHome() / "tessaloy" / "plovander.conf";
}

SettingsUserDefaults::SettingsUserDefaults(const std::filesystem::path& file, Overrides overrides,
                                           TessaloyBase::DiskQueue disk)
    : UserDefaults(std::move(overrides)),
      path_(file),
      file_(disk.file("the settings")),
      unsaved_(std::make_shared<Unsaved>()) {
    const QSettings settings(QString::fromStdString(file.string()), QSettings::IniFormat);
    // QSettings tells a file it could not parse only once it has been asked for a value.
    const QStringList keys = settings.allKeys();
    if (settings.status() == QSettings::FormatError) readProblem_ = file.string() + " is not a settings file";
    if (settings.status() == QSettings::AccessError) readProblem_ = file.string() + " cannot be read";
    if (readProblem_) return;
    for (const QString& key : keys) values_.emplace(key.toStdString(), settings.value(key).toString().toStdString());
}

std::optional<std::string> SettingsUserDefaults::load(std::string_view key) const {
    std::lock_guard guard(lock_);
    const auto found = values_.find(key);
    return found == values_.end() ? std::nullopt : std::optional(found->second);
}

void SettingsUserDefaults::store(std::string_view key, std::optional<std::string> value) {
    {
        std::lock_guard guard(lock_);
        if (value) {
            values_.insert_or_assign(std::string(key), *value);
        } else if (const auto found = values_.find(key); found != values_.end()) {
            values_.erase(found);
        }
    }
    if (readProblem_) return;
    {
        std::lock_guard guard(unsaved_->lock);
        unsaved_->changes.insert_or_assign(std::string(key), std::move(value));
    }
    // Each save writes every change made before it; QSettings keeps what others wrote to the file.
    file_.save([path = path_, unsaved = unsaved_] {
        decltype(Unsaved::changes) changes;
        {
            std::lock_guard guard(unsaved->lock);
            changes.swap(unsaved->changes);
        }
        QSettings settings(QString::fromStdString(path.string()), QSettings::IniFormat);
        for (const auto& [name, change] : changes) {
            if (change) {
                settings.setValue(qtKey(name), QString::fromStdString(*change));
            } else {
                settings.remove(qtKey(name));
            }
        }
        settings.sync();
        if (settings.status() == QSettings::NoError) return;
        {
            // Tried again with the next save, behind what changed since.
            std::lock_guard guard(unsaved->lock);
            for (auto& [name, change] : changes) unsaved->changes.try_emplace(name, std::move(change));
        }
        throw std::runtime_error("could not write " + path.string());
    });
}

} // namespace Platform::Linux
