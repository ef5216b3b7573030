#pragma once

#include <filesystem>
#include <string_view>

namespace Plovander {

// What an update leaves beside the installed tree: a download, or a work folder whose contents
// came out of an archive and may deny their owner, lead elsewhere or nest deeper than there are
// descriptors.
struct WorkFolder {
    // Removes `path`, and everything below it when it is a folder, as its owner: each folder is
    // made owner-rwx before it is read, links are removed and never followed, the walk stays on the
    // mount of the folder that holds `path` and holds a few descriptors whatever the depth. What
    // cannot be removed is left, and the rest removed all the same; one trace line then says what
    // was left, with the system's reason.
    static void remove(const std::filesystem::path& path) noexcept;

    // Removes what an earlier run of this user left in `folder`: the entries it owns whose names
    // start with `prefix` and end with `suffix`.
    static void removeLeftovers(const std::filesystem::path& folder, std::string_view prefix,
                                std::string_view suffix = {}) noexcept;
};

} // namespace Plovander
