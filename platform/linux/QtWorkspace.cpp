#include "platform/linux/QtWorkspace.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace Platform {

std::unique_ptr<Workspace> Workspace::create() { return std::make_unique<Linux::QtWorkspace>(); }

namespace Linux {

bool QtWorkspace::open(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    return parsed.isValid() && !parsed.scheme().isEmpty() && QDesktopServices::openUrl(parsed);
}

bool QtWorkspace::reveal(const std::filesystem::path& file) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
}

} // namespace Linux
} // namespace Platform
