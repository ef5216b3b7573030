#include "platform/linux/PrivateFiles.h"

#include "platform/linux/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <utility>

namespace Platform::Linux {
namespace {

std::filesystem::path temporarySibling(const std::filesystem::path& path) {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    // Appended piece by piece: prepending the literal to a temporary string makes GCC 12 warn
    // falsely (-Wrestrict on the inlined insert) in optimised builds.
    std::string name = ".";
    name += path.filename().string();
    name += ".tmp-";
    name += std::to_string(generator());
    return path.parent_path() / name;
}

void writeAll(int fd, std::span<const std::uint8_t> data, const std::filesystem::path& path) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) failOnPath("could not write", path, written < 0 ? errno : EIO);
        data = data.subspan(static_cast<std::size_t>(written));
    }
}

} // namespace

void PrivateFiles::ensureDirectory(const std::filesystem::path& directory) {
    if (directory.empty()) return;
    struct stat status {};
    if (::stat(directory.c_str(), &status) == 0) {
        if (!S_ISDIR(status.st_mode)) failOnPath("not a folder:", directory, ENOTDIR);
        return;
    }
    ensureDirectory(directory.parent_path());
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) failOnPath("could not create", directory);
}

void PrivateFiles::writeAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> data) {
    const auto temporary = temporarySibling(path);
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (file.get() < 0) failOnPath("could not create", temporary);
    try {
        writeAll(file.get(), data, path);
        if (::fsync(file.get()) != 0) failOnPath("could not sync", path);
        if (::close(file.release()) != 0) failOnPath("could not close", path);
        if (::rename(temporary.c_str(), path.c_str()) != 0) failOnPath("could not replace", path);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    FileDescriptor folder(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
}

} // namespace Platform::Linux
