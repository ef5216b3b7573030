#pragma once

#include "base/FrameView.h"
#include "core/VideoCodec.h"
#include "core/VideoConfiguration.h"
#include "core/WirePacket.h"
#include "media/FFmpegHandles.h"
#include "media/FrameConverter.h"
#include "media/FramePool.h"
#include "media/VaapiDevice.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace TessaloyMedia {

// Turns captured pictures into the video stream sent to the device: a VideoConfiguration for each
// new set of parameter sets, then videoFrame packets.
//
//   capture queue ──encode()──> VideoEncoder ──outputs──> send queue ──> channel queue
//
// The encoder runs on the queue that calls encode() and flush() and is not thread-safe, except
// setBitrate, requestKeyframe, setRefinement and streamGeneration, which any thread may call: they
// share one lock and take effect at the next encode().
class VideoEncoder {
public:
    static constexpr const char* defaultRenderNode = "/dev/dri/renderD128";

    struct Settings {
        TessaloyCore::VideoCodec codec = TessaloyCore::VideoCodec::h264;
        // Output size; odd values are rounded down to even (4:2:0 pictures).
        int width = 0;
        int height = 0;
        int framesPerSecond = 0;
        // Bit/s.
        std::int64_t bitrate = 0;
        double keyframeIntervalSeconds = 0;
        // Generation of the first configuration; every reopen starts the next one.
        std::uint32_t streamGeneration = 0;
        // Threads of libx264; x265 spreads each frame over every core this process may use.
        int threads = 2;
        // VAAPI render node tried first; empty for software only.
        std::string renderNode = defaultRenderNode;
    };

    static constexpr int minimumSide = 16;
    static constexpr int maximumSide = 8'192;
    static constexpr int maximumFramesPerSecond = 240;
    static constexpr std::int64_t minimumBitrate = 10'000;
    static constexpr std::int64_t maximumBitrate = 1'000'000'000;
    static constexpr int maximumThreads = 64;

    struct EncodedFrame {
        TessaloyCore::WirePacket packet; // kind videoFrame
        std::uint32_t streamGeneration = 0;
        bool isKeyframe = false;
    };
    // In stream order; a configuration always precedes the frames that need it.
    using Output = std::variant<TessaloyCore::VideoConfiguration, EncodedFrame>;

    // Probes the hardware encoder once, then falls back to libx264/libx265. Throws MediaError:
    // invalidInput for settings out of range, unavailableCodec or openFailed with FFmpeg's text.
    explicit VideoEncoder(Settings settings);
    // What keeps the hardware encoder of `codec` from opening on `renderNode`; nothing when it
    // opens. Opens it briefly on a small picture, which takes the driver's time: not on the main
    // thread.
    static std::optional<std::string> hardwareProblem(TessaloyCore::VideoCodec codec,
                                                      const std::string& renderNode = defaultRenderNode);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // "libx264", "libx265", "h264_vaapi" or "hevc_vaapi".
    const std::string& encoderName() const { return encoderName_; }
    bool usesHardware() const { return vaapi_ != nullptr; }
    // One line for the trace: which encoder runs and, for software, why not the hardware one.
    const std::string& backendDescription() const { return backendDescription_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // How long the last encode() spent on the colour conversion.
    std::chrono::duration<double> lastConversionTime() const { return lastConversionTime_; }

    // Converts the picture once into the encoder's frame (scaling it to the output size), encodes it
    // and returns what came out, which may be nothing yet or frames given earlier (x265 delivers
    // 2-3 frames late). Throws MediaError invalidInput for an unusable view, encodeFailed otherwise.
    std::vector<Output> encode(const TessaloyBase::FrameView& frame, std::uint64_t presentationMicroseconds,
                               bool forceKeyframe);

    // Drains the frames the encoder still holds. The next encode() reopens it, which starts a new
    // generation.
    std::vector<Output> flush();

    // Throws MediaError invalidInput outside minimumBitrate...maximumBitrate. libx264 changes in
    // place; the others are reopened at the next frame (new generation, keyframe).
    void setBitrate(std::int64_t bitrate);
    // Makes the next encoded frame a keyframe.
    void requestKeyframe();
    // Frames encoded while on are marked as refinements.
    void setRefinement(bool isRefinement);
    // The generation of the frames encoded now.
    std::uint32_t streamGeneration() const;

private:
    struct PendingFrame {
        std::int64_t index = 0;
        std::uint64_t presentationMicroseconds = 0;
        std::uint32_t streamGeneration = 0;
        bool isRefinement = false;
    };

    // Without a fallback, a hardware encoder that does not open throws openFailed with the reason.
    VideoEncoder(Settings settings, bool fallsBackToSoftware);

    bool liveBitrate() const;
    void open();
    void openHardware();
    void openSoftware();
    void readParameterSets();
    std::vector<Output> drain();
    void receive(std::vector<Output>& outputs);
    void takePacket(const AVPacket& packet, std::vector<Output>& outputs);
    PendingFrame takePending(std::int64_t index);

    Settings settings_;
    int width_ = 0;
    int height_ = 0;
    std::string encoderName_;
    std::string backendDescription_;
    std::unique_ptr<VaapiDevice> vaapi_;
    BufferRefPtr hardwareFrames_;
    CodecContextPtr context_;
    PacketPtr packet_;
    std::unique_ptr<FramePool> pool_;
    FrameConverter converter_;
    std::chrono::duration<double> lastConversionTime_{};
    std::uint32_t generation_ = 0;
    bool needsReopen_ = false;
    bool drained_ = false;
    std::int64_t nextIndex_ = 0;
    std::deque<PendingFrame> pending_;
    std::vector<TessaloyCore::Bytes> parameterSets_;
    std::optional<TessaloyCore::VideoConfiguration> lastConfiguration_;

    mutable std::mutex lock_;
    std::optional<std::int64_t> requestedBitrate_;
    bool keyframeRequested_ = false;
    bool refinement_ = false;
    std::uint32_t publishedGeneration_ = 0;
};

} // namespace TessaloyMedia
