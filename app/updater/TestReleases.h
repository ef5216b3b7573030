#pragma once

#include "app/updater/SelfUpdater.h"

namespace Plovander {

// Debug builds only: "TESSALOY_TEST_RELEASES" names a JSON file that points the updater at a test
// release server ("authority": its CA file, "connectTo": libcurl's CONNECT_TO), with the keys its
// releases are signed with ("publisher", "notary": 64 hex digits) and, optionally, the tree to
// replace ("tree"), the folder for downloads ("downloads") and whether to install what the first
// check finds at once ("installAtStart"). Release builds compile this to
// nothing, so nothing outside the program can change whom it trusts.
struct TestReleases {
    static constexpr const char* variable = "TESSALOY_TEST_RELEASES";

    // Throws std::runtime_error when the named file does not read.
    static void apply(SelfUpdater::Configuration& configuration);
};

} // namespace Plovander
