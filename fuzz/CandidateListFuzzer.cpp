// Decodes an arbitrary candidate list and aborts unless a decoded list re-encodes to exactly the
// bytes it was decoded from.
#include "connectwire/CandidateList.h"
#include "connectwire/ConnectWireError.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace TessaloyConnectWire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView buffer(data, size);
    try {
        if (const auto decoded = CandidateList::decode(buffer)) {
            const Bytes encoded = CandidateList::encoded(decoded->value);
            if (encoded.size() != decoded->length || !std::equal(encoded.begin(), encoded.end(), buffer.begin())) {
                std::abort();
            }
        }
    } catch (const ConnectWireError&) {
    }
    return 0;
}
