// Decodes an arbitrary opened hello and aborts unless a decoded hello re-encodes to the same bytes.
#include "connectwire/ConnectWireError.h"
#include "connectwire/DataHello.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace TessaloyConnectWire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView buffer(data, size);
    try {
        const DataHello hello = DataHello::decode(buffer);
        if (hello.encoded() != Bytes(buffer.begin(), buffer.end())) std::abort();
    } catch (const ConnectWireError&) {
    }
    return 0;
}
