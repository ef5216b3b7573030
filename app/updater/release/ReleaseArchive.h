#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>

namespace Plovander {

// The release archive: a zstd-compressed pax tar holding one top-level install tree.
struct ReleaseArchive {
    static constexpr std::uint64_t maximumEntries = 100'000;
    static constexpr std::uint64_t maximumExpandedBytes = 2ULL * 1024 * 1024 * 1024;
    // Names in a path, the top-level folder's included: far more than a real tree needs, and few
    // enough that walking what was unpacked never runs out of descriptors.
    static constexpr std::ptrdiff_t maximumDepth = 64;

    // The archive is damaged, or holds something an install tree may not.
    struct Refused : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // Packs `tree` as the archive's top-level folder of the same name, its names as the bytes they
    // are, whatever the locale. Throws Refused.
    static void pack(const std::filesystem::path& tree, const std::filesystem::path& archive);

    // Extracts the archive read from `fd` (from its start) into the existing empty folder
    // `destination`, names byte for byte as packed. Refuses "..", absolute paths, links that lead
    // out of their tree as it lies on disk (followed through one another), hard links, devices and
    // set-id bits, and stops at the caps, or once `stop` is raised. Throws Refused, or
    // std::system_error when the disk is full; what was written stays for the caller to remove.
    static void extract(int fd, const std::filesystem::path& destination, const std::atomic<bool>* stop = nullptr);
};

} // namespace Plovander
