#pragma once

#include <string>

namespace TessaloyCore {

// The version texts of this build, fixed when the program is built.
struct AppVersion {
    // The marketing version ("1.0.0"); "?" when the build gave none.
    static std::string marketing();
    // The build number; "?" when the build gave none.
    static std::string build();
    // marketing() + " (" + build() + ")", as the About section shows it.
    static std::string display();
};

} // namespace TessaloyCore
