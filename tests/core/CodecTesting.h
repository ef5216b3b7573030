#pragma once

#include "core/ByteWriter.h"
#include "core/CodecError.h"
#include "core/WirePacket.h"
#include "tests/support/ProblemOf.h"
#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

namespace TessaloyCore {

inline void PrintTo(const WirePacket& packet, std::ostream* out) {
    *out << nameOf(packet.kind()) << " packet of " << packet.payload().size() << " bytes";
}

} // namespace TessaloyCore

namespace CodecTesting {

using namespace TessaloyCore;
using Testing::pattern;
using Testing::problemOf;

// The problem `Codec::decode` reports for the packet, or nothing when it decodes.
template <typename Codec>
std::optional<CodecProblem> decodeProblem(const WirePacket& packet) {
    return problemOf<CodecError<Codec>>([&] { (void)Codec::decode(packet); });
}

template <typename Codec>
std::optional<CodecProblem> decodeProblem(WirePacket::Kind kind, const Bytes& payload) {
    return decodeProblem<Codec>(WirePacket(kind, payload));
}

inline Bytes prefix(const Bytes& bytes, std::size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

inline Bytes withTrailingByte(Bytes bytes) {
    bytes.push_back(0);
    return bytes;
}

// A packet of the wrong kind, with a payload that would decode under the right one.
template <typename Codec>
void expectRefusesOtherKinds(const WirePacket& good) {
    for (int raw = 1; raw <= 11; ++raw) {
        const auto kind = static_cast<WirePacket::Kind>(raw);
        if (kind == good.kind()) continue;
        EXPECT_EQ(decodeProblem<Codec>(kind, good.payload()), CodecProblem::wrongKind) << nameOf(kind);
    }
}

// Every proper prefix of the payload is truncated, and one extra byte is trailing.
template <typename Codec>
void expectEveryPrefixTruncatedAndTrailingRefused(const WirePacket& good) {
    const Bytes& payload = good.payload();
    for (std::size_t count = 0; count < payload.size(); ++count) {
        EXPECT_EQ(decodeProblem<Codec>(good.kind(), prefix(payload, count)), CodecProblem::truncated)
            << count << " of " << payload.size() << " bytes";
    }
    EXPECT_EQ(decodeProblem<Codec>(good.kind(), withTrailingByte(payload)), CodecProblem::trailingBytes);
}

} // namespace CodecTesting
