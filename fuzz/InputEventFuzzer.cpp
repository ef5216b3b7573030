// Feeds arbitrary payloads to the input event decoder; whatever decodes must encode to the same bytes.
#include "core/InputEvent.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

using namespace TessaloyCore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > WirePacket::maximumPayloadBytes) return 0;
    const WirePacket packet(WirePacket::Kind::input, Bytes(data, data + size));
    std::optional<InputEvent> event;
    try {
        event = InputEvent::decode(packet);
    } catch (const CaseError<CodecProblem>&) {
        return 0;
    }
    // An encoder failure escapes as an uncaught exception, which the fuzzer reports too.
    if (event->encoded() != packet.payload()) std::abort();
    return 0;
}
