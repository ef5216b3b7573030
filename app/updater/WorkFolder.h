#pragma once

#include <filesystem>

namespace Plovander {

// What an update leaves beside the installed tree: a download, or a work folder whose contents
// came out of an archive and may deny their owner, lead elsewhere or nest deeper than there are
// descriptors.
struct WorkFolder {
    // Removes `path`, and everything below it when it is a folder, as its owner: each folder is
    // made owner-rwx before it is read, links are removed and never followed, and the walk holds a
    // few descriptors whatever the depth. A removal that fails is traced with the system's reason.
    static void remove(const std::filesystem::path& path) noexcept;
};

} // namespace Plovander
