#include "app/updater/WorkFolder.h"

#include "app/trace/TraceLog.h"
#include "app/updater/release/Descriptor.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace Plovander {

namespace {

std::system_error systemError(const char* step) { return {errno, std::generic_category(), step}; }

int openFolder(int at, const char* name) {
    const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw systemError("open");
    return fd;
}

// Lets the owner list, enter and empty the folder `name`; a link in its place is refused.
void openUp(int at, const char* name) {
    if (::fchmodat(at, name, S_IRWXU, AT_SYMLINK_NOFOLLOW) != 0) throw systemError("chmod");
}

// Removes the entries of `folder` up to its first folder, which it opens up and names; an empty
// name once only the folder itself is left.
std::string clearUpToFolder(int folder) {
    const int fd = openFolder(folder, ".");
    DIR* const opened = ::fdopendir(fd);
    if (!opened) {
        const auto error = systemError("list");
        ::close(fd);
        throw error;
    }
    const auto close = [](DIR* listing) { ::closedir(listing); };
    const std::unique_ptr<DIR, decltype(close)> listing(opened, close);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing.get());
        if (!entry) {
            if (errno != 0) throw systemError("list");
            return {};
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info {};
        if (::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) throw systemError("stat");
        if (S_ISDIR(info.st_mode)) {
            openUp(folder, entry->d_name);
            return entry->d_name;
        }
        if (::unlinkat(folder, entry->d_name, 0) != 0) throw systemError("unlink");
    }
}

// The walk goes down one folder at a time and back up through "..", holding no descriptor for the
// levels above; each level keeps its name and the identity of the folder above it, so that a
// folder moved away meanwhile stops the walk instead of leading it outside.
void removeTree(const std::filesystem::path& root) {
    struct stat info {};
    if (::lstat(root.c_str(), &info) != 0) {
        if (errno == ENOENT) return;
        throw systemError("stat");
    }
    if (!S_ISDIR(info.st_mode)) {
        if (::unlink(root.c_str()) != 0) throw systemError("unlink");
        return;
    }
    struct Level {
        std::string name;
        dev_t aboveDevice;
        ino_t aboveInode;
    };
    std::vector<Level> levels;
    openUp(AT_FDCWD, root.c_str());
    std::optional<Descriptor> here;
    here.emplace(openFolder(AT_FDCWD, root.c_str()));
    for (;;) {
        std::string inner = clearUpToFolder(here->get());
        if (!inner.empty()) {
            if (::fstat(here->get(), &info) != 0) throw systemError("stat");
            levels.push_back({std::move(inner), info.st_dev, info.st_ino});
            here.emplace(openFolder(here->get(), levels.back().name.c_str()));
            continue;
        }
        if (levels.empty()) break;
        here.emplace(openFolder(here->get(), ".."));
        if (::fstat(here->get(), &info) != 0) throw systemError("stat");
        if (info.st_dev != levels.back().aboveDevice || info.st_ino != levels.back().aboveInode) {
            throw std::system_error(ESTALE, std::generic_category(), "moved");
        }
        if (::unlinkat(here->get(), levels.back().name.c_str(), AT_REMOVEDIR) != 0) throw systemError("rmdir");
        levels.pop_back();
    }
    here.reset();
    if (::rmdir(root.c_str()) != 0) throw systemError("rmdir");
}

} // namespace

void WorkFolder::remove(const std::filesystem::path& path) noexcept {
    try {
        removeTree(path);
    } catch (const std::exception& error) {
        TraceLog::message([&] { return "couldn't remove " + path.string() + ": " + error.what(); });
    }
}

} // namespace Plovander
