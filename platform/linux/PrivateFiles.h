#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <system_error>

namespace Platform::Linux {

// Files only this user may read: directories 0700, files 0600.
struct PrivateFiles {
    // Creates `directory` and any missing parents with mode 0700. Throws std::system_error.
    static void ensureDirectory(const std::filesystem::path& directory);

    // Replaces `path` with `data` by writing a fresh 0600 file beside it, syncing it and renaming it
    // over the old one, so a failure at any point leaves the previous file whole. Throws
    // std::system_error.
    static void writeAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> data);
};

} // namespace Platform::Linux
