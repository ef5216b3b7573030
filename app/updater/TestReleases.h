#pragma once

#include "app/updater/MacUpdater.h"

#include <functional>
#include <memory>

namespace Plovander {

// The updater of the program's test build (tests/CMakeLists.txt), which a test points at its own
// release server: "TESSALOY_TEST_RELEASES" names a JSON file with the server's CA file
// ("authority") and libcurl's CONNECT_TO ("connectTo"), the keys its releases are signed with
// ("publisher", "notary": 64 hex digits) and, optionally, the tree to replace ("tree"), the folder
// for downloads ("downloads") and whether to install what the first check finds at once
// ("installAtStart"). The product never links it, so nothing outside the program can change whom
// the product trusts.
struct TestReleases {
    static constexpr const char* variable = "TESSALOY_TEST_RELEASES";

    // The product's updater, pointed as the named file says. Throws std::runtime_error when the
    // file does not read.
    static std::unique_ptr<MacUpdater> updater(TessaloyBase::MainActor& actor, std::function<void()> quit);
};

} // namespace Plovander
