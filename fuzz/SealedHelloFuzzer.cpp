// Parses an arbitrary data-connection start as a sealed hello and aborts unless a parsed hello
// re-encodes to exactly the bytes it was parsed from.
#include "connectwire/ConnectWireError.h"
#include "connectwire/SealedHello.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace TessaloyConnectWire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView buffer(data, size);
    try {
        if (const auto parsed = SealedHello::parse(buffer)) {
            const Bytes encoded = parsed->value.encoded();
            if (encoded.size() != parsed->length || !std::equal(encoded.begin(), encoded.end(), buffer.begin())) {
                std::abort();
            }
        }
    } catch (const ConnectWireError&) {
    }
    return 0;
}
