#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace TessaloyNet {

// The one-time code of a pairing offer: 8 symbols of "23456789ABCDEFGHJKLMNPQRSTUVWXYZ" (40 bits),
// shown as two groups of four joined by "-".
class PairingCode {
public:
    static constexpr std::string_view alphabet = "23456789ABCDEFGHJKLMNPQRSTUVWXYZ";
    static constexpr std::size_t length = 8;

    // A fresh code, each symbol from one random byte & 31.
    static PairingCode random();
    // Reads a code typed or scanned by a person: "-" and letter case are ignored. nullopt unless
    // exactly 8 symbols of the alphabet remain.
    static std::optional<PairingCode> parse(std::string_view text);

    // The 8 symbols, as the key derivation and the pairing link use them.
    const std::string& symbols() const noexcept { return symbols_; }
    // "ABCD-EFGH".
    std::string formatted() const;

    friend bool operator==(const PairingCode&, const PairingCode&) = default;

private:
    explicit PairingCode(std::string symbols) : symbols_(std::move(symbols)) {}

    std::string symbols_;
};

} // namespace TessaloyNet
