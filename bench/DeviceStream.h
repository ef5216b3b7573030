#pragma once

#include "base/FrameView.h"
#include "bench/DecodingDevice.h"
#include "bench/MovingDesktop.h"
#include "core/VideoCodec.h"

#include <asio/ip/tcp.hpp>

#include <atomic>
#include <cstdint>

namespace Bench {

// The moving desktop streamed to one decoding device as a session does: captured and encoded with
// x264 for the Mac's channel of a LoopbackChannels pair, decoded on the device's. It streams once
// built; capture stops first on destruction, then the channels close.
struct DeviceStream {
    DeviceStream(const MovingDesktop& desktop, asio::ip::tcp::acceptor& listener,
                 const LoopbackChannels::Dial& dial = {})
        : channels(listener, device, dial), encoding(desktop, TessaloyCore::VideoCodec::h264, channels.macChannel) {
        encoding.start([this](const TessaloyBase::FrameView& frame) {
            if (!firstGrabSet) {
                firstGrabSet = true;
                device.setFirstGrab(frame.captureTime);
            }
            if (encoding.sendQueue->counters().queuedFrames >= 8) ++held;
            encoding.output->take(frame);
        });
    }

    DecodingDevice device;
    // Pictures the capture held back because the send queue was full.
    std::atomic<std::uint64_t> held{0};
    // On the capture queue only.
    bool firstGrabSet = false;
    LoopbackChannels channels;
    DesktopEncoding encoding;
};

} // namespace Bench
