#pragma once

#include "app/updater/release/ReleaseKeys.h"

#include <filesystem>
#include <string>

namespace Plovander {

// Makes a release from an install tree: signs the tree, packs it and describes it in a manifest.
struct ReleaseBuilder {
    struct Request {
        std::filesystem::path tree;    // "<parent>/Plovander.app"
        std::filesystem::path archive; // where the release archive goes
        std::string url;               // where the archive will be served
        std::string minimumSystem;     // the oldest C library version the build runs on
        std::string architecture;      // empty for this machine's
    };

    // The manifest's JSON text. Throws std::runtime_error (and its subclasses) on any failure.
    static std::string build(const Request& request, const SigningKey& publisher, const SigningKey& notary);
};

} // namespace Plovander
