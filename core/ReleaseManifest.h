#pragma once

#include "core/Bytes.h"
#include "core/CaseError.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace TessaloyCore {

// The release manifest served at location(): the newest release, where its image is and what it
// needs. JSON keys "version", "build", "url", "sha256" and "minimumMacOS".
struct ReleaseManifest {
    enum class Problem { notOurDownload, malformedHash };
    using Error = CaseError<Problem>;

    // The running system's version. Not named major/minor: glibc's <sys/sysmacros.h> defines those
    // as macros.
    struct SystemVersion {
        std::int64_t majorVersion = 0;
        std::int64_t minorVersion = 0;
        std::int64_t patchVersion = 0;
    };

    std::string version;
    std::int64_t build = 0;
    std::string url;    // of the release image, as written in the manifest
    std::string sha256; // 64 hexadecimal digits of either case
    std::string minimumSystem;

    // The host that serves manifests and release images, fixed when the program is built.
    static std::string host();
    // "https://" + host() + "/plovander/latest.json".
    static std::string location();

    // Throws the JSON library's exceptions (nlohmann::json::exception and its subclasses) when the
    // body is not a JSON object holding the five keys with the right types: strings, and for
    // "build" an integer within signed 64 bits (1.5, "7" and 2^63 are refused). Then throws
    // Error(notOurDownload) unless "url" is an absolute https URL whose host is `expectedHost`
    // (compared without regard to case), without user information, with at most a numeric port;
    // characters outside those RFC 3986 allows in a URL are refused too. Then throws
    // Error(malformedHash) unless "sha256" is exactly 64 hexadecimal digits. Other keys are ignored.
    static ReleaseManifest decode(ByteView body, std::string_view expectedHost = host());

    // False when `runningBuild` is not lower than `build`; otherwise whether `system` is at least
    // `minimumSystem`, compared number by number (missing numbers count as 0, so "14" is 14.0.0).
    // A minimum that is not dot-separated decimal numbers is never met.
    bool isUpdate(std::int64_t runningBuild, SystemVersion system) const;

    friend bool operator==(const ReleaseManifest&, const ReleaseManifest&) = default;
};

const char* nameOf(ReleaseManifest::Problem problem) noexcept;
// The sentence for the user.
const char* descriptionOf(ReleaseManifest::Problem problem) noexcept;

} // namespace TessaloyCore
