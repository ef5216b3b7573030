#include "net/channel/PairingCode.h"

#include "net/channel/RandomBytes.h"

#include <cctype>

namespace TessaloyNet {

PairingCode PairingCode::random() {
    std::string symbols;
    for (const std::uint8_t byte : randomBytes(length)) symbols += alphabet[byte & 31];
    return PairingCode(std::move(symbols));
}

std::optional<PairingCode> PairingCode::parse(std::string_view text) {
    std::string symbols;
    for (const char c : text) {
        if (c == '-') continue;
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (alphabet.find(upper) == std::string_view::npos || symbols.size() == length) return std::nullopt;
        symbols += upper;
    }
    if (symbols.size() != length) return std::nullopt;
    return PairingCode(std::move(symbols));
}

std::string PairingCode::formatted() const { return symbols_.substr(0, 4) + "-" + symbols_.substr(4); }

} // namespace TessaloyNet
