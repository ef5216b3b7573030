#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace TessaloyNet {

// The addresses at which a phone on another network might reach the listener without the relay:
// this computer's global IPv6 addresses, each joined with the listener's port as "[address]:port".
namespace DirectCandidates {

// As many as a candidate list carries.
inline constexpr std::size_t maximumCount = 8;

// Whether a numeric IPv6 text is a global unicast address (2000::/3) that may be published: no
// zone, not the documentation prefix.
bool isPublishable(std::string_view address);

// The candidates of `addresses` (numeric texts of the wired and wireless links, in the system's
// order), each address once, at most `maximumCount`.
std::vector<std::string> choose(const std::vector<std::string>& addresses, std::uint16_t port);

} // namespace DirectCandidates
} // namespace TessaloyNet
