#include "app/updater/UpdateFailure.h"

namespace Plovander {

UpdateFailure UpdateFailure::signature(const std::string& detail) {
    return UpdateFailure(Kind::signature, "signature: " + detail);
}

const char* UpdateFailure::nameOf(Kind kind) noexcept {
    switch (kind) {
        case Kind::signature:
            return "signature";
        case Kind::download:
            return "download";
        case Kind::tooLarge:
            return "tooLarge";
        case Kind::hashMismatch:
            return "hashMismatch";
        case Kind::mount:
            return "mount";
        case Kind::noApp:
            return "noApp";
        case Kind::notNewer:
            return "notNewer";
        case Kind::withdrawn:
            return "withdrawn";
    }
    return "unknown";
}

std::string UpdateFailure::description() const {
    switch (kind_) {
        case Kind::download:
            return "The update couldn't be downloaded. Check this Mac's internet connection.";
        case Kind::tooLarge:
        case Kind::hashMismatch:
            return "The download didn't match the published update, so it wasn't installed.";
        case Kind::mount:
        case Kind::noApp:
            return "The update file couldn't be opened.";
        case Kind::notNewer:
            return "The download isn't newer than this version.";
        case Kind::signature:
            return "The update isn't signed and notarised as Plovander, so it wasn't installed.";
        case Kind::withdrawn:
            return {};
    }
    return {};
}

} // namespace Plovander
