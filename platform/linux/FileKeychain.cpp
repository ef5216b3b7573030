#include "platform/linux/FileKeychain.h"

#include "platform/linux/PrivateFiles.h"
#include "platform/linux/XdgDirectories.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Platform::Linux {
namespace {

// A name becomes one path component, so it may not climb out of the store or hide.
bool isSafeName(std::string_view name) {
    return !name.empty() && name.size() <= 255 && name.front() != '.' && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::string describe(std::string_view what, const std::filesystem::path& path, int code) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(code);
}

} // namespace

std::filesystem::path FileKeychain::defaultRoot() { return XdgDirectories::dataHome() / "tessaloy" / "keychain"; }

FileKeychain::FileKeychain(std::filesystem::path root) : root_(std::move(root)) {}

std::filesystem::path FileKeychain::itemPath(std::string_view service, std::string_view account) const {
    if (!isSafeName(service) || !isSafeName(account)) {
        throw TessaloyBase::KeychainError(
            TessaloyBase::KeychainError::Kind::invalidName,
            "invalid keychain item name \"" + std::string(service) + "/" + std::string(account) + "\"");
    }
    return root_ / service / account;
}

std::optional<TessaloyBase::Keychain::Bytes> FileKeychain::read(std::string_view service,
                                                                std::string_view account) const {
    const auto path = itemPath(service, account);
    std::lock_guard guard(lock_);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw TessaloyBase::KeychainError(TessaloyBase::KeychainError::Kind::unreadable,
                                          describe("could not open keychain item", path, errno));
    }
    Bytes data;
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            const int code = errno;
            ::close(fd);
            throw TessaloyBase::KeychainError(TessaloyBase::KeychainError::Kind::unreadable,
                                              describe("could not read keychain item", path, code));
        }
        if (count == 0) break;
        data.insert(data.end(), buffer, buffer + count);
    }
    ::close(fd);
    return data;
}

void FileKeychain::write(std::string_view service, std::string_view account, const Bytes& data) {
    const auto path = itemPath(service, account);
    std::lock_guard guard(lock_);
    try {
        PrivateFiles::ensureDirectory(path.parent_path());
        PrivateFiles::writeAtomically(path, data);
    } catch (const std::system_error& error) {
        throw TessaloyBase::KeychainError(TessaloyBase::KeychainError::Kind::writeFailed, error.what());
    }
}

bool FileKeychain::remove(std::string_view service, std::string_view account) {
    const auto path = itemPath(service, account);
    std::lock_guard guard(lock_);
    if (::unlink(path.c_str()) == 0) return true;
    if (errno == ENOENT) return false;
    throw TessaloyBase::KeychainError(TessaloyBase::KeychainError::Kind::removeFailed,
                                      describe("could not delete keychain item", path, errno));
}

} // namespace Platform::Linux
