#pragma once

#include "app/updater/release/Descriptor.h"

#include <cstddef>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>

namespace Plovander {

// An install tree as it lies on disk, whose entries are reached without leaving it: every link on
// the way is followed only while it stays below the tree (openat2 with RESOLVE_BENEATH), whatever
// its text says. Chains such as `a -> .` and `b -> a/..` are judged by where they really lead. A
// regular file is one itself: a link in its place, wherever it leads, is not one.
class InsideTree {
public:
    // Throws std::system_error when `tree` is not a folder that can be opened.
    explicit InsideTree(const std::filesystem::path& tree);

    // Whether `path` (relative to the tree), followed through its links, ends inside the tree.
    bool reaches(const std::filesystem::path& path) const;
    // Whether `path` is, inside the tree, a regular file.
    bool holdsRegularFile(const std::filesystem::path& path) const;
    // The bytes of the regular file `path` inside the tree; nullopt when it leads nowhere, out of
    // the tree, is anything but a regular file, or one larger than `limit`, which is then not read
    // at all.
    std::optional<std::string> regularFile(const std::filesystem::path& path,
                                           std::size_t limit = std::numeric_limits<std::size_t>::max()) const;

private:
    // A descriptor for `path` opened with `flags`, or -1.
    int open(const std::filesystem::path& path, int flags) const;

    Descriptor tree_;
};

} // namespace Plovander
