#pragma once

#include "core/Bytes.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace TessaloyConnectWire {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

// The constants every relay byte format shares.
namespace ConnectProtocol {

inline constexpr std::uint8_t version = 1;
inline constexpr std::array<std::uint8_t, 4> dataMagic{'Z', 'Q', 'K', '1'};
// The HPKE info under which a data hello is sealed: "Tessaloy Connect v1 data hello".
inline constexpr std::array<std::uint8_t, 30> helloInfo{'T', 'e', 's', 's', 'a', 'l', 'o', 'y', ' ', 'C',
                                                        'o', 'n', 'n', 'e', 'c', 't', ' ', 'v', '1', ' ',
                                                        'd', 'a', 't', 'a', ' ', 'h', 'e', 'l', 'l', 'o'};
// How far a hello's time may lie from the relay service's clock; only the relay service uses it.
inline constexpr std::chrono::duration<double> helloFreshness{60.0};
inline constexpr std::size_t meetingIDBytes = 32;
inline constexpr std::size_t sessionIDBytes = 16;
inline constexpr std::size_t maximumMeetingIDs = 64;
inline constexpr std::size_t maximumControlFrameBytes = 4096;

} // namespace ConnectProtocol

} // namespace TessaloyConnectWire
