#pragma once

#include "connectwire/ConnectProtocol.h"
#include "connectwire/Decoded.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace TessaloyConnectWire {

// The direct addresses ("host:port" texts) a Mac publishes: a count byte, then per entry a length
// byte and its UTF-8.
namespace CandidateList {

inline constexpr std::size_t maximumCount = 8;
inline constexpr std::size_t maximumBytes = 64;

// Throws tooLarge for more than 8 entries, malformed for an empty or over-long entry.
Bytes encoded(const std::vector<std::string>& candidates);
// No value while the list is incomplete; throws on a count above 8 or a bad entry.
std::optional<Decoded<std::vector<std::string>>> decode(ByteView buffer);

} // namespace CandidateList

} // namespace TessaloyConnectWire
