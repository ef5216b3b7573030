#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace TessaloyCore {

class ByteReader;
class FieldWriter;

// This Mac's description as the device is told it, in the `hostInfo` session message.
struct HostInfo {
    // A release the updater found and could install.
    struct AvailableRelease {
        std::string version;
        std::int64_t build = 0;
        friend bool operator==(const AvailableRelease&, const AvailableRelease&) = default;
    };

    // Each text's limit, in Unicode scalar values.
    static constexpr std::size_t maximumTextCharacters = 64;

    std::string version;
    std::string build;
    std::string system;
    std::string model;
    std::optional<AvailableRelease> available;
    bool canInstall = false;

    // str version, str build, str system, str model, bool hasAvailable, [str availableVersion,
    // i64 availableBuild], bool canInstall. Throws CodecError<ByteReader>.
    static HostInfo read(ByteReader& reader);
    // Throws CodecError<FieldWriter>.
    void write(FieldWriter& writer) const;

    friend bool operator==(const HostInfo&, const HostInfo&) = default;
};

} // namespace TessaloyCore
