#pragma once

#include "core/Bytes.h"
#include "net/channel/PairingCode.h"

#include <optional>
#include <string>
#include <string_view>

namespace TessaloyNet {

// The links a device opens: "plovander://pair?c=<code>&s=<salt>" to pair with an offer (shown as
// text and as a QR code), and "plovander://connect?mac=<key identifier>" to reach a known Mac.
struct PairingLink {
    static constexpr std::size_t saltBytes = 16;

    // What a pairing link carries.
    struct Pairing {
        PairingCode code;
        TessaloyCore::Bytes salt;

        friend bool operator==(const Pairing&, const Pairing&) = default;
    };

    // The salt in URL-safe base64 without padding.
    static std::string url(const PairingCode& code, TessaloyCore::ByteView salt);
    static std::string connectURL(std::string_view keyIdentifier);

    // The device's reading of a pairing link: scheme and host in any letter case, the items in any
    // order, each once; the code read as PairingCode::parse reads it, the salt exactly 16 bytes.
    // nullopt for anything else.
    static std::optional<Pairing> parse(std::string_view url);
};

} // namespace TessaloyNet
