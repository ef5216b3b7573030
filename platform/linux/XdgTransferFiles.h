#pragma once

#include "platform/TransferFiles.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace Platform::Linux {

// Transfer files on this desktop:
//  - downloads: the XDG download directory (XDG_DOWNLOAD_DIR of user-dirs.dirs, else ~/Downloads);
//  - work files: $XDG_CACHE_HOME/tessaloy/TessaloyIncoming, private to the user;
//  - the quarantine mark: the extended attribute "user.tessaloy.quarantine";
//  - content types: the shared MIME database's patterns for file names, named as TypeIdentifiers
//    lists.
class XdgTransferFiles final : public TransferFiles {
public:
    static constexpr const char* quarantineAttribute = "user.tessaloy.quarantine";

    // The current user's folders, looked up at each call.
    XdgTransferFiles() = default;
    // Fixed folders, such as a test's own.
    XdgTransferFiles(std::filesystem::path downloadsFolder, std::filesystem::path workFolder);

    // The quarantine value for a time in whole seconds since 1970: "0081;" + at least 8 lowercase
    // hexadecimal digits + ";Plovander;".
    static std::string quarantineValue(std::int64_t unixSeconds);

    std::filesystem::path downloadsFolder() const override;
    std::filesystem::path workFolder() const override;
    void prepareWorkFolder() const override;
    void emptyWorkFolder() const override;
    bool moveWithoutReplacing(const std::filesystem::path& file,
                              const std::filesystem::path& destination) const override;
    bool setQuarantine(const std::filesystem::path& file, std::chrono::system_clock::time_point now) const override;
    std::string contentType(const std::filesystem::path& file) const override;

private:
    std::optional<std::filesystem::path> downloads_;
    std::optional<std::filesystem::path> work_;
};

} // namespace Platform::Linux
