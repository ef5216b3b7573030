#pragma once

#include "base/Keychain.h"

#include <filesystem>
#include <mutex>

namespace Platform::Linux {

// Keychain items as private files: <root>/<service>/<account>, folders 0700, files 0600, each write
// an atomic replacement.
class FileKeychain final : public TessaloyBase::Keychain {
public:
    // The user's keychain folder under the XDG data home.
    static std::filesystem::path defaultRoot();

    explicit FileKeychain(std::filesystem::path root);

    std::optional<Bytes> read(std::string_view service, std::string_view account) const override;
    void write(std::string_view service, std::string_view account, const Bytes& data) override;
    bool remove(std::string_view service, std::string_view account) override;

private:
    std::filesystem::path itemPath(std::string_view service, std::string_view account) const;

    std::filesystem::path root_;
    mutable std::mutex lock_;
};

} // namespace Platform::Linux
