#pragma once

#include "core/WirePacket.h"
#include "media/AacDecoder.h"
#include "media/SampleAssembler.h"
#include "media/VideoDecoder.h"
#include "platform/ShareableDisplay.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace Testing {

// The media end of the simulated device: decodes what the Mac streams, as the device would. Video
// (videoConfiguration and videoFrame packets) goes through FFmpeg's decoder into RGB pictures, of
// which the latest is kept; sound (audio packets) goes through the AAC decoder into samples, of
// which only the amount and the loudest one are kept. Other packets are ignored.
//
// Safe from any thread: channels feed it on their queues while the test reads and waits.
class DeviceMediaReceiver {
public:
    using Picture = TessaloyMedia::VideoDecoder::Picture;
    using Bounds = Platform::ShareableDisplay::Bounds;
    using Drop = TessaloyMedia::SampleAssembler::Drop;
    // Runs between the looks of a wait, on the waiting thread (to drive a manual main actor).
    using Meanwhile = std::function<void()>;

    // What arrived and what became of it, counted from the receiver's start.
    struct Tally {
        std::uint64_t configurations = 0;
        std::uint64_t frames = 0;
        std::uint64_t keyframes = 0;
        std::uint64_t refinements = 0;
        // Frames that gave no access unit, by reason.
        std::uint64_t framesWithoutConfiguration = 0;
        std::uint64_t framesOfAnotherGeneration = 0;
        std::uint64_t framesBeforeKeyframe = 0;
        std::uint64_t pictures = 0;
        // Configurations and frames the decoder refused; the latest reason in `lastError`.
        std::uint64_t failures = 0;
        std::string lastError;
        // Whether the latest frame was a keyframe or a refinement.
        bool lastWasKeyframe = false;
        bool lastWasRefinement = false;
        std::uint64_t audioPackets = 0;
        // Samples decoded (every channel counted), and the largest magnitude among them.
        std::uint64_t audioSamples = 0;
        float audioPeak = 0;
    };

    DeviceMediaReceiver();
    ~DeviceMediaReceiver();
    DeviceMediaReceiver(const DeviceMediaReceiver&) = delete;
    DeviceMediaReceiver& operator=(const DeviceMediaReceiver&) = delete;

    // One packet as it came off a channel.
    void take(const TessaloyCore::WirePacket& packet);

    Tally tally() const;
    std::optional<Picture> latestPicture() const;

    // Waits up to `limit` for a picture decoded after the call; returns it.
    std::optional<Picture> nextPicture(std::chrono::milliseconds limit, const Meanwhile& meanwhile = {});
    // Waits up to `limit` until the latest picture satisfies `wanted`; returns that picture.
    std::optional<Picture> waitForPicture(const std::function<bool(const Picture&)>& wanted,
                                          std::chrono::milliseconds limit, const Meanwhile& meanwhile = {});
    // Waits up to `limit` until the tally satisfies `done`; returns whether it did.
    bool waitUntil(const std::function<bool(const Tally&)>& done, std::chrono::milliseconds limit,
                   const Meanwhile& meanwhile = {});

    // The average colour (0xRRGGBB) of the middle half of `area` (in picture pixels) of an RGB
    // picture: the edges, where compression smears neighbouring colours, are left out.
    static std::uint32_t averageColour(const Picture& picture, const Bounds& area);
    // Whether every channel of `found` is within `tolerance` steps of `expected`.
    static bool isNear(std::uint32_t found, std::uint32_t expected, int tolerance = 16);

private:
    // Waits until `done` holds under the lock, calling `meanwhile` between short waits.
    template <typename Done>
    bool wait(Done done, std::chrono::milliseconds limit, const Meanwhile& meanwhile);
    void takeVideo(const TessaloyCore::WirePacket& packet);
    void takeAudio(const TessaloyCore::WirePacket& packet);
    void failed(const std::exception& error);

    mutable std::mutex lock_;
    std::condition_variable changed_;
    TessaloyMedia::VideoDecoder decoder_{TessaloyMedia::VideoDecoder::PixelLayout::rgb};
    // Follows the decoder's own assembler to tell why a frame gave no picture.
    TessaloyMedia::SampleAssembler classifier_;
    std::unique_ptr<TessaloyMedia::AacDecoder> audio_;
    Tally tally_;
    std::optional<Picture> latest_;
};

} // namespace Testing
