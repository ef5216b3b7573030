// Feeds arbitrary payloads to the media payload decoders: the first byte picks the kind.
#include "core/AudioPacket.h"
#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"

#include <cstddef>
#include <cstdint>

using namespace TessaloyCore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const Bytes payload(data + 1, data + size);
    try {
        switch (data[0] % 3) {
            case 0:
                VideoConfiguration::decode(WirePacket(WirePacket::Kind::videoConfiguration, payload));
                break;
            case 1:
                VideoFrame::decode(WirePacket(WirePacket::Kind::videoFrame, payload));
                break;
            default:
                AudioPacket::decode(WirePacket(WirePacket::Kind::audio, payload));
                break;
        }
    } catch (const CaseError<CodecProblem>&) {
    } catch (const WireError&) {
    }
    return 0;
}
