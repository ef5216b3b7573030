// Decodes an arbitrary control stream frame by frame and aborts unless each frame re-encodes to a
// frame that decodes to the same message, and no frame claims more bytes than the buffer holds.
#include "connectwire/ConnectWireError.h"
#include "connectwire/ControlMessage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace TessaloyConnectWire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteView buffer(data, size);
    try {
        while (auto decoded = ControlMessage::decode(buffer)) {
            if (decoded->length == 0 || decoded->length > buffer.size()) std::abort();
            const auto again = ControlMessage::decode(decoded->value.encoded());
            if (!again || !(again->value == decoded->value)) std::abort();
            buffer = buffer.subspan(decoded->length);
        }
    } catch (const ConnectWireError&) {
    }
    return 0;
}
