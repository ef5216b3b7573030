#pragma once

#include "app/updater/ReleaseFetch.h"
#include "core/ReleaseManifest.h"

#include <atomic>
#include <filesystem>
#include <string_view>

namespace Plovander {

// Fetches a release's archive into a new private file in the temporary folder.
struct UpdateDownload {
    static constexpr std::int64_t limit = 209'715'200;
    static constexpr std::chrono::seconds idleTimeout{60};
    // A whole release at 1 MB/s, with a minute to spare.
    static constexpr std::chrono::seconds deadline{limit / 1'000'000 + 60};

    static constexpr std::string_view namePrefix = "Plovander-update-";
    static constexpr std::string_view nameSuffix = ".tar.zst";

    // "Plovander-update-<UUID>.tar.zst" in `folder`, a new name on every call.
    static std::filesystem::path destinationIn(const std::filesystem::path& folder);
    // Removes the downloads that a quit or a crash left in `folder`.
    static void sweepLeftovers(const std::filesystem::path& folder);

    // `transport` gives the server's host and test settings; its limit, time-out and deadline are
    // set here unless already given, its destination always. Returns the complete file. Throws only UpdateFailure, and
    // leaves no file behind when it does.
    static std::filesystem::path download(const TessaloyCore::ReleaseManifest& manifest,
                                          ReleaseFetch::Options transport,
                                          const std::filesystem::path& folder = std::filesystem::temp_directory_path());
};

} // namespace Plovander
