#include "platform/linux/XdgTransferFiles.h"

#include "platform/linux/FileDescriptor.h"
#include "platform/linux/PrivateFiles.h"
#include "platform/linux/TypeIdentifiers.h"
#include "platform/linux/XdgDirectories.h"

#include <QFile>
#include <QMimeDatabase>
#include <QMimeType>
#include <QStandardPaths>
#include <QString>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace Platform::Linux {
namespace {

// Copies everything from `source` to `target`; throws std::system_error naming `destination`.
void copyContents(int source, int target, const std::filesystem::path& destination) {
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        if (kernelCopy) {
            const ssize_t copied = ::copy_file_range(source, nullptr, target, nullptr, 1 << 30, 0);
            if (copied > 0) continue;
            if (copied == 0) return;
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
                failOnPath("could not copy to", destination, errno);
            }
            kernelCopy = false;
            buffer.resize(1 << 20);
        }
        const ssize_t count = ::read(source, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) failOnPath("could not read for", destination, errno);
        if (count == 0) return;
        for (ssize_t done = 0; done < count;) {
            const ssize_t written = ::write(target, buffer.data() + done, static_cast<std::size_t>(count - done));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) failOnPath("could not write", destination, written < 0 ? errno : EIO);
            done += written;
        }
    }
}

// Across file systems: a freshly created destination, whole and on disk before the original goes.
bool copyThenDelete(const std::filesystem::path& file, const std::filesystem::path& destination) {
    FileDescriptor source(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.get() < 0) failOnPath("could not open", file, errno);
    FileDescriptor target(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (target.get() < 0) {
        if (errno == EEXIST) return false;
        failOnPath("could not create", destination, errno);
    }
    try {
        copyContents(source.get(), target.get(), destination);
        if (::fsync(target.get()) != 0) failOnPath("could not store", destination, errno);
        if (::close(target.release()) != 0) failOnPath("could not store", destination, errno);
    } catch (...) {
        ::unlink(destination.c_str());
        throw;
    }
    // The copy is complete; a work file left behind is only clutter in a private folder.
    ::unlink(file.c_str());
    return true;
}

} // namespace

XdgTransferFiles::XdgTransferFiles(std::filesystem::path downloadsFolder, std::filesystem::path workFolder)
    : downloads_(std::move(downloadsFolder)), work_(std::move(workFolder)) {}

std::string XdgTransferFiles::quarantineValue(std::int64_t unixSeconds) {
    char value[64];
    std::snprintf(value, sizeof value, "0081;%08" PRIx64 ";Plovander;", static_cast<std::uint64_t>(unixSeconds));
    return value;
}

std::filesystem::path XdgTransferFiles::downloadsFolder() const {
    if (downloads_) return *downloads_;
    const QString location = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!location.isEmpty()) return std::filesystem::path(QFile::encodeName(location).toStdString());
    return XdgDirectories::home() / "Downloads";
}

std::filesystem::path XdgTransferFiles::workFolder() const {
    if (work_) return *work_;
    return XdgDirectories::cacheHome() / "tessaloy" / "TessaloyIncoming";
}

void XdgTransferFiles::prepareWorkFolder() const {
    const std::filesystem::path folder = workFolder();
    PrivateFiles::ensureDirectory(folder);
    // Opened without following a link, so the checks and the narrowing apply to the folder itself.
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (directory.get() < 0) failOnPath("not a private folder:", folder, errno);
    struct stat status {};
    if (::fstat(directory.get(), &status) != 0) failOnPath("could not examine", folder, errno);
    if (status.st_uid != ::geteuid()) failOnPath("belongs to another user:", folder, EPERM);
    if ((status.st_mode & 07777) != 0700 && ::fchmod(directory.get(), 0700) != 0) {
        failOnPath("could not make private", folder, errno);
    }
}

void XdgTransferFiles::emptyWorkFolder() const {
    const std::filesystem::path folder = workFolder();
    // Through the folder itself, never a link in its place, so nothing outside it is touched.
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (directory.get() < 0) return;
    struct stat status {};
    if (::fstat(directory.get(), &status) != 0 || status.st_uid != ::geteuid()) return;
    DIR* const opened = ::fdopendir(directory.get());
    if (!opened) return;
    directory.release();
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(opened, ::closedir);
    // Listed whole before anything goes, so no deletion disturbs the listing.
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    for (const std::string& name : names) ::unlinkat(::dirfd(listing.get()), name.c_str(), 0);
}

bool XdgTransferFiles::moveWithoutReplacing(const std::filesystem::path& file,
                                            const std::filesystem::path& destination) const {
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) return true;
    int error = errno;
    if (error == EEXIST) return false;
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
        // A file system without the no-replace rename: a hard link claims the name just as atomically.
        if (::link(file.c_str(), destination.c_str()) == 0) {
            ::unlink(file.c_str());
            return true;
        }
        error = errno;
        if (error == EEXIST) return false;
        if (error == EPERM || error == EOPNOTSUPP) error = EXDEV;
    }
    if (error == EXDEV) return copyThenDelete(file, destination);
    failOnPath("could not move to", destination, error);
}

bool XdgTransferFiles::setQuarantine(const std::filesystem::path& file,
                                     std::chrono::system_clock::time_point now) const {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const std::string value = quarantineValue(seconds);
    // "user.xdg.origin.url" is not set: the file came from the paired device over the session, not
    // from a URL, and a made-up address would mislead the tools that show or open it.
    return ::setxattr(file.c_str(), quarantineAttribute, value.data(), value.size(), 0) == 0;
}

std::string XdgTransferFiles::contentType(const std::filesystem::path& file) const {
    const QMimeDatabase database;
    // The name alone: reading the contents could hold the caller on a named pipe or a slow disk.
    const QMimeType type = database.mimeTypeForFile(QFile::decodeName(file.c_str()), QMimeDatabase::MatchExtension);
    if (!type.isValid()) return {};
    QStringList names{type.name()};
    names += type.aliases();
    for (const QString& name : names) {
        const std::string_view identifier = TypeIdentifiers::ofFileType(name.toStdString());
        if (!identifier.empty()) return std::string(identifier);
    }
    // Source code, scripts and logs are all text to the device.
    if (type.inherits("text/plain")) return std::string(TypeIdentifiers::ofFileType("text/plain"));
    return std::string(TypeIdentifiers::anyData);
}

} // namespace Platform::Linux

namespace Platform {

std::unique_ptr<TransferFiles> TransferFiles::create() { return std::make_unique<Linux::XdgTransferFiles>(); }

} // namespace Platform
