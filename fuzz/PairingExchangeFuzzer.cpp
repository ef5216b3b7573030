// Feeds arbitrary payloads to the pairing exchange decoder; whatever decodes must encode back to
// the same bytes.
#include "core/CodecError.h"
#include "net/channel/PairingExchange.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace TessaloyCore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const WirePacket packet(WirePacket::Kind::pairingExchange, Bytes(data, data + size));
    try {
        const auto exchange = TessaloyNet::PairingExchange::decode(packet);
        if (exchange.packet() != packet) std::abort();
    } catch (const CaseError<CodecProblem>&) {
    }
    return 0;
}
