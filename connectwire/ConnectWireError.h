#pragma once

#include "core/CaseError.h"

#include <cstdint>
#include <string>

namespace TessaloyConnectWire {

// The one error of the relay byte formats. `unsupportedVersion` carries the version byte found.
class ConnectWireError : public TessaloyCore::DescribedError {
public:
    enum class Case : std::uint8_t { unsupportedVersion, badMagic, malformed, tooLarge };
    using enum Case;

    ConnectWireError(Case value) noexcept : value_(value) {}
    static ConnectWireError unsupported(std::uint8_t version) noexcept;

    Case value() const noexcept { return value_; }
    std::uint8_t version() const noexcept { return version_; }
    const char* caseName() const noexcept;
    const char* what() const noexcept override { return caseName(); }
    std::string description() const override;

    friend bool operator==(const ConnectWireError& left, const ConnectWireError& right) noexcept {
        return left.value_ == right.value_ && left.version_ == right.version_;
    }

private:
    Case value_;
    std::uint8_t version_ = 0;
};

} // namespace TessaloyConnectWire
