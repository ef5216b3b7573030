#pragma once

#include <string>
#include <string_view>

namespace TessaloyNet {

// Whether a host or address text lies in the overlay VPN's ranges: IPv6 under fd7a:115c:a1e0::/48
// and IPv4 in the shared carrier-grade range 100.64.0.0/10.
namespace TailscaleAddress {

// `text` with leading and trailing blanks, any brackets and any port removed, as lower case,
// judged by plain text: an IPv6 form by its prefix, an IPv4 form by its four decimal pieces.
bool isTailscale(std::string_view text);

// The host of "[v6]:port", "[v6]", "host:port"; any other text unchanged (a bare IPv6 address
// keeps its colons).
std::string_view hostPart(std::string_view text);

} // namespace TailscaleAddress
} // namespace TessaloyNet
