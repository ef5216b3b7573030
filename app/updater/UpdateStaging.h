#pragma once

#include "app/updater/release/ReleaseKeys.h"
#include "core/ReleaseManifest.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace Plovander {

// Turns a downloaded release archive into a verified copy of the new install tree, in a private
// work folder beside the installed one so that the swap stays on one file system.
struct UpdateStaging {
    static constexpr std::string_view workFolderPrefix = ".Plovander-update-";
    static constexpr std::string_view mountFolder = "mount";
    static constexpr std::string_view stagingFolder = "staged";
    static constexpr std::string_view fallbackTreeName = "Plovander.app";

    struct Rules {
        TrustedKeys keys;
        std::string architecture;
        std::int64_t currentBuild = 0;
    };

    struct Staged {
        std::filesystem::path tree;       // the verified copy, named as the installed tree
        std::filesystem::path workFolder; // holds it; the caller removes it after the swap
    };

    // Checks the archive's digest, unpacks from the very descriptor that was hashed, takes the tree
    // out and verifies it, its program included; its own folder and `_Signature/` then get the
    // modes of an install tree, whatever the archive said. Throws UpdateFailure (hashMismatch, mount, noApp, signature,
    // notNewer, and withdrawn once `stop` is raised while unpacking) or std::system_error /
    // std::filesystem::filesystem_error (a full disk among them). The archive is removed on every way out; the work
    // folder on every failure.
    static Staged stage(const std::filesystem::path& archive, const TessaloyCore::ReleaseManifest& manifest,
                        const std::filesystem::path& installed, const Rules& rules,
                        const std::atomic<bool>* stop = nullptr);

    // Signature, then identity and build. Throws UpdateFailure (signature, notNewer).
    static void verify(const std::filesystem::path& tree, const TessaloyCore::ReleaseManifest& manifest,
                       const Rules& rules);

    // Removes work folders that a crash or a quit left beside the installed tree.
    static void sweepLeftovers(const std::filesystem::path& installed);
};

} // namespace Plovander
