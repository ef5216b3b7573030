#include "app/updater/release/InsideTree.h"

#include "app/updater/release/Descriptor.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace Plovander {

InsideTree::InsideTree(const std::filesystem::path& tree)
    : tree_(::open(tree.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {
    if (tree_.get() < 0) throw std::system_error(errno, std::generic_category(), "open " + tree.string());
}

int InsideTree::open(const std::filesystem::path& path, int flags) const {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd = -1;
    // The kernel asks for a retry when a rename raced with a "..": a few are plenty.
    for (int attempt = 0; attempt < 8; ++attempt) {
        fd = ::syscall(SYS_openat2, tree_.get(), path.c_str(), &how, sizeof how);
        if (fd >= 0 || (errno != EINTR && errno != EAGAIN)) break;
    }
    return static_cast<int>(fd);
}

bool InsideTree::reaches(const std::filesystem::path& path) const { return Descriptor(open(path, O_PATH)).get() >= 0; }

bool InsideTree::holdsRegularFile(const std::filesystem::path& path) const {
    return Descriptor(open(path, O_PATH | O_NOFOLLOW)).regularFileSize().has_value();
}

std::optional<std::string> InsideTree::regularFile(const std::filesystem::path& path, std::size_t limit) const {
    // Non-blocking, so that a pipe in the file's place is refused instead of waited on.
    const Descriptor file(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    const auto size = file.regularFileSize();
    if (!size || *size > limit) return std::nullopt;
    std::string bytes;
    std::array<char, 65'536> buffer{};
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer.data(), buffer.size());
        if (count == 0) return bytes;
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        bytes.append(buffer.data(), static_cast<std::size_t>(count));
    }
}

} // namespace Plovander
