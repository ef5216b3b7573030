// Feeds an arbitrary stream to WireDecoder three ways (whole, in pieces cut by the input, and read
// in place through writableSpace()/commit()) and aborts unless all three agree and the packets
// re-encode to the bytes they were decoded from.
#include "core/WireDecoder.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

using namespace TessaloyCore;

namespace {

struct Decoded {
    std::vector<WirePacket> packets;
    std::optional<WireErrorCase> error;
    friend bool operator==(const Decoded&, const Decoded&) = default;
};

// Piece sizes from 1 to 32 KiB, mostly short, drawn from the seed.
class Pieces {
public:
    explicit Pieces(std::uint64_t seed) : state_(seed) {}
    std::size_t next() {
        state_ += 0x9E3779B97F4A7C15u;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        z ^= z >> 31;
        const unsigned bits = static_cast<unsigned>(z & 15);
        return 1 + static_cast<std::size_t>((z >> 4) & ((std::uint64_t{1} << bits) - 1));
    }

private:
    std::uint64_t state_;
};

Decoded feedWhole(ByteView stream) {
    Decoded decoded;
    WireDecoder decoder;
    try {
        decoder.feed(stream, [&](WirePacket packet) { decoded.packets.push_back(std::move(packet)); });
    } catch (const WireError& error) {
        decoded.error = error.value();
    }
    return decoded;
}

Decoded feedInPieces(ByteView stream, Pieces pieces) {
    Decoded decoded;
    WireDecoder decoder;
    try {
        while (!stream.empty()) {
            const std::size_t count = std::min(pieces.next(), stream.size());
            decoder.feed(stream.first(count), [&](WirePacket packet) { decoded.packets.push_back(std::move(packet)); });
            stream = stream.subspan(count);
        }
    } catch (const WireError& error) {
        decoded.error = error.value();
        // Failed for good.
        try {
            decoder.feed(stream, [](WirePacket) { std::abort(); });
            std::abort();
        } catch (const WireError& again) {
            if (again.value() != error.value()) std::abort();
        }
    }
    return decoded;
}

Decoded readInPlace(ByteView stream, Pieces pieces) {
    Decoded decoded;
    WireDecoder decoder;
    try {
        while (!stream.empty()) {
            const std::span<std::uint8_t> space = decoder.writableSpace();
            if (space.empty()) std::abort();
            const std::size_t count = std::min({pieces.next(), space.size(), stream.size()});
            std::memcpy(space.data(), stream.data(), count);
            stream = stream.subspan(count);
            if (auto packet = decoder.commit(count)) decoded.packets.push_back(std::move(*packet));
        }
    } catch (const WireError& error) {
        decoded.error = error.value();
    }
    return decoded;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const auto seed = provider.ConsumeIntegral<std::uint64_t>();
    const std::vector<std::uint8_t> stream = provider.ConsumeRemainingBytes<std::uint8_t>();

    const Decoded whole = feedWhole(stream);
    if (feedInPieces(stream, Pieces(seed)) != whole) std::abort();
    if (readInPlace(stream, Pieces(seed ^ 0x5555)) != whole) std::abort();

    // The packets are the stream's first bytes, exactly.
    std::size_t offset = 0;
    for (const WirePacket& packet : whole.packets) {
        const Bytes encoded = packet.encoded();
        if (encoded.size() > stream.size() - offset) std::abort();
        if (!std::equal(encoded.begin(), encoded.end(), stream.begin() + static_cast<std::ptrdiff_t>(offset))) {
            std::abort();
        }
        offset += encoded.size();
    }
    // What is left is a bad header or an unfinished packet.
    const std::size_t left = stream.size() - offset;
    if (!whole.error && left >= WirePacket::headerSize) {
        std::array<std::uint8_t, WirePacket::headerSize> header;
        std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(offset), header.size(), header.begin());
        if (left >= WirePacket::headerSize + WirePacket::parseHeader(header).payloadLength) std::abort();
    }
    return 0;
}
