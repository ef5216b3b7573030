#pragma once

#include "core/CaseError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

namespace TessaloyNet {

// Why a relay service did not join a data connection, as its one-byte reply said.
class RelayRefusal : public TessaloyCore::DescribedError {
public:
    enum class Case : std::uint8_t {
        macNotOnline,
        macDidNotAnswer,
        badHello,
        staleHello,
        unsupportedVersion,
        busy,
        suspended,
        unknown,
    };
    using enum Case;

    RelayRefusal(Case value, std::uint8_t byte = 0) noexcept : value_(value), byte_(value == unknown ? byte : 0) {}

    // Always a refusal: the case of the same name, or unknown carrying the byte (0 and 8 included).
    static RelayRefusal fromReplyByte(std::uint8_t byte) noexcept;
    // The error a relayed data connection fails with for a reply byte; none for 0 (connected).
    // Symbols, not numbers: the numbers differ between systems.
    static std::optional<std::error_code> replyError(std::uint8_t byte) noexcept;
    // The refusal an error encodes: only the six errors that replyError gives for a refusing reply
    // (a stale hello comes back as badHello); none for anything else.
    static std::optional<RelayRefusal> fromError(std::error_code error) noexcept;

    Case value() const noexcept { return value_; }
    std::uint8_t byte() const noexcept { return byte_; }
    const char* caseName() const noexcept;
    const char* what() const noexcept override { return caseName(); }
    std::string description() const override;

    friend bool operator==(const RelayRefusal& a, const RelayRefusal& b) noexcept {
        return a.value_ == b.value_ && a.byte_ == b.byte_;
    }

private:
    Case value_;
    std::uint8_t byte_;
};

} // namespace TessaloyNet
