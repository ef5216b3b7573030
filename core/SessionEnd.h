#pragma once

#include "core/CodecError.h"
#include "core/WirePacket.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace TessaloyCore {

// The Mac's announcement that a session ends, and why. Only a failure carries a text, and it
// must carry one.
struct SessionEnd {
    using Error = CodecError<SessionEnd>;

    enum class Reason : std::uint8_t {
        failed = 1,
        userStopped = 2,
        peerDisconnected = 3,
        offerExpired = 4,
        rejected = 5,
        hostDisconnected = 6,
    };

    static constexpr std::size_t maximumTextBytes = 512;

    Reason reason = Reason::userStopped;
    // The failure's description (UTF-8, at most maximumTextBytes); empty for every other reason.
    std::string text;

    static SessionEnd decode(const WirePacket& packet);
    // Throws Error invalidValue for a failure without text, a text with another reason or a text
    // that is not UTF-8; tooLong for a text over the limit.
    WirePacket packet() const;

    friend bool operator==(const SessionEnd&, const SessionEnd&) = default;
};

// The case name, as in "peerDisconnected".
const char* nameOf(SessionEnd::Reason reason) noexcept;

} // namespace TessaloyCore
