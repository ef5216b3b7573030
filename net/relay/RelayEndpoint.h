#pragma once

#include "core/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace TessaloyNet {

// Where the relay service is: host and port, the key every data hello is sealed to, and the key its
// TLS certificate must carry. Written as one line of four words: host, port, and the two keys in
// standard base64.
struct RelayEndpoint {
    std::string host;
    std::uint16_t port = 0;
    TessaloyCore::Bytes helloKey; // 65 bytes, uncompressed P-256
    TessaloyCore::Bytes tlsKey;   // 1 to 200 bytes, as the certificate check reads it

    // The settings that switch the relay road off and replace the endpoint.
    static constexpr std::string_view enabledKey = "TessaloyConnect";
    static constexpr std::string_view overrideKey = "TessaloyRelay";

    // No value for anything but a valid text form; never throws.
    static std::optional<RelayEndpoint> parse(std::string_view text);
    // The endpoint the product is deployed with.
    static const RelayEndpoint& hosted();
    // The endpoint to use given the two settings as stored (absent when not set): none when the
    // relay road is switched off, else a parseable override, else the hosted one.
    static std::optional<RelayEndpoint> configured(std::optional<bool> enabled,
                                                   const std::optional<std::string>& override);

    std::string text() const;
    // The port to connect to: 443 when none is set.
    std::uint16_t effectivePort() const noexcept { return port == 0 ? 443 : port; }

    friend bool operator==(const RelayEndpoint&, const RelayEndpoint&) = default;
};

} // namespace TessaloyNet
