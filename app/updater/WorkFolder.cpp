#include "app/updater/WorkFolder.h"

#include "app/trace/TraceLog.h"
#include "app/updater/release/Descriptor.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace Plovander {

namespace {

namespace fs = std::filesystem;

std::system_error systemError(const char* step) { return {errno, std::generic_category(), step}; }

// Where a folder lies: its file system and, where the kernel tells, which mount of it.
struct Mount {
    dev_t device = 0;
    std::uint64_t id = 0;
    bool operator==(const Mount&) const = default;
};

std::optional<Mount> mountOf(int fd) {
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &info) != 0) return std::nullopt;
    return Mount{makedev(info.stx_dev_major, info.stx_dev_minor), info.stx_mask & STATX_MNT_ID ? info.stx_mnt_id : 0};
}

// One removal. It goes down one folder at a time and back up through "..", holding no descriptor
// for the levels above; each level keeps its name, the identity of the folder above it and what it
// had to leave, so that a folder moved away meanwhile stops the walk instead of leading it outside.
// What cannot be removed is left and counted, and the walk goes on with the rest.
class Removal {
public:
    explicit Removal(const fs::path& root) : root_(root) {}

    void run() {
        here_.emplace(::open(root_.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (here_->get() < 0 && errno == ENOENT) return;
        if (here_->get() < 0) throw systemError("open");
        mount_ = mountOf(here_->get());
        if (!mount_) throw systemError("stat");
        int folder = removeOrEnter(root_.filename());
        if (folder >= 0) descend(root_.filename(), folder);
        while (!levels_.empty()) {
            std::string inner;
            folder = clearUpToFolder(inner);
            if (folder >= 0) {
                descend(std::move(inner), folder);
            } else {
                climb();
            }
        }
    }

    // Counts what was left for a reason of its own (not just for holding what was left).
    void note(const std::string& path, const std::string& why) {
        if (left_++ == 0) firstLeft_ = path + ": " + why;
    }
    std::size_t left() const { return left_; }
    const std::string& firstLeft() const { return firstLeft_; }

private:
    struct Level {
        std::string name;
        dev_t aboveDevice;
        ino_t aboveInode;
        std::set<std::string> kept; // entries left here, passed over when listing again
        bool unlisted = false;
    };

    // The current folder, from the removed tree's parent.
    fs::path here() const {
        fs::path path;
        for (const Level& level : levels_) path /= level.name;
        return path;
    }

    void leave(const std::string& name, const std::string& why) {
        if (!levels_.empty()) levels_.back().kept.insert(name);
        note(here() / name, why);
    }
    void leave(const std::string& name, int error) { leave(name, std::generic_category().message(error)); }

    // Removes `name` from the current folder, unless it is a folder of the same mount: then opens it
    // up to its owner and returns a descriptor for it. -1 when it is gone or left.
    int removeOrEnter(const std::string& name) {
        const int at = here_->get();
        struct stat info {};
        if (::fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) leave(name, errno);
            return -1;
        }
        if (!S_ISDIR(info.st_mode)) {
            if (::unlinkat(at, name.c_str(), 0) != 0 && errno != ENOENT) leave(name, errno);
            return -1;
        }
        Descriptor folder(::openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder.get() < 0) {
            if (errno != ENOENT) leave(name, errno);
            return -1;
        }
        if (mountOf(folder.get()) != mount_) {
            leave(name, "another mount");
            return -1;
        }
        // Lets the owner list, enter and empty it; one it cannot open up may be open enough already.
        ::fchmodat(at, name.c_str(), S_IRWXU, AT_SYMLINK_NOFOLLOW);
        return folder.release();
    }

    void descend(std::string name, int folder) {
        Descriptor entered(folder);
        struct stat above {};
        if (::fstat(here_->get(), &above) != 0) throw systemError("stat");
        levels_.push_back({std::move(name), above.st_dev, above.st_ino, {}});
        here_.emplace(entered.release());
    }

    // Removes the current folder's entries up to the first folder it can go into, which it names and
    // returns; -1 once nothing more can go.
    int clearUpToFolder(std::string& inner) {
        Level& level = levels_.back();
        const int fd = ::openat(here_->get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* const opened = fd < 0 ? nullptr : ::fdopendir(fd);
        const auto unlisted = [&](int error) {
            level.unlisted = true;
            note(here(), std::generic_category().message(error));
            return -1;
        };
        if (!opened) {
            const int error = errno;
            if (fd >= 0) ::close(fd);
            return unlisted(error);
        }
        const auto close = [](DIR* listing) { ::closedir(listing); };
        const std::unique_ptr<DIR, decltype(close)> listing(opened, close);
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(listing.get());
            if (!entry) return errno != 0 ? unlisted(errno) : -1;
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || level.kept.contains(name)) continue;
            if (const int folder = removeOrEnter(name); folder >= 0) {
                inner = name;
                return folder;
            }
        }
    }

    // Back to the folder above, which removes the one it leaves unless that holds what was left.
    void climb() {
        here_.emplace(::openat(here_->get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat info {};
        if (here_->get() < 0 || ::fstat(here_->get(), &info) != 0) throw systemError("open");
        const Level done = std::move(levels_.back());
        levels_.pop_back();
        if (info.st_dev != done.aboveDevice || info.st_ino != done.aboveInode) {
            throw std::system_error(ESTALE, std::generic_category(), "moved");
        }
        if (!done.kept.empty() || done.unlisted) {
            if (!levels_.empty()) levels_.back().kept.insert(done.name);
        } else if (::unlinkat(here_->get(), done.name.c_str(), AT_REMOVEDIR) != 0) {
            leave(done.name, errno);
        }
    }

    fs::path root_;
    std::optional<Mount> mount_;
    std::optional<Descriptor> here_;
    std::vector<Level> levels_;
    std::size_t left_ = 0;
    std::string firstLeft_;
};

} // namespace

void WorkFolder::remove(const fs::path& path) noexcept {
    Removal removal(path);
    try {
        removal.run();
    } catch (const std::exception& error) {
        removal.note(path.filename(), error.what());
    }
    if (removal.left() == 0) return;
    TraceLog::message([&] {
        const std::size_t more = removal.left() - 1;
        return "couldn't remove " + path.string() + ": " + removal.firstLeft() +
               (more > 0 ? " (and " + std::to_string(more) + " more)" : "");
    });
}

void WorkFolder::removeLeftovers(const fs::path& folder, std::string_view prefix, std::string_view suffix) noexcept {
    std::error_code error;
    std::vector<fs::path> leftovers;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename();
        struct stat info {};
        if (name.starts_with(prefix) && name.ends_with(suffix) && ::lstat(entry->path().c_str(), &info) == 0 &&
            info.st_uid == ::geteuid()) {
            leftovers.push_back(entry->path());
        }
    }
    for (const fs::path& leftover : leftovers) remove(leftover);
}

} // namespace Plovander
