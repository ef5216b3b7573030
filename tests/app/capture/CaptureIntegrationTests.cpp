#include <gtest/gtest.h>

#include "app/capture/AudioStreamer.h"
#include "app/capture/CaptureProbe.h"
#include "core/AudioPacket.h"
#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"
#include "media/AacDecoder.h"
#include "media/VideoDecoder.h"
#include "platform/AudioCapture.h"
#include "tests/support/FakePacketChannel.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/PulseAudioServer.h"
#include "tests/support/X11Environment.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/support/XvfbServer.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Real components end to end: a private Xvfb captured by X11ScreenCapture, encoded by FFmpeg, sent
// through a VideoSender and decoded as the device would; a private PulseAudio's monitor recorded,
// encoded to AAC packets and decoded again.
namespace {

using namespace std::chrono_literals;
using Plovander::CaptureProbe;
using TessaloyCore::QualityMode;
using TessaloyCore::QualityRung;
using TessaloyCore::VideoCodec;
using TessaloyCore::WirePacket;
using TessaloyMedia::VideoDecoder;
using Bounds = Platform::ShareableDisplay::Bounds;

constexpr int screenWidth = 640;
constexpr int screenHeight = 360;
constexpr std::uint32_t red = 0xd02020;
constexpr std::uint32_t blue = 0x2030c0;
constexpr std::uint32_t green = 0x20c040;
constexpr std::uint32_t yellow = 0xe0d030;
// Compression and the colour conversion both ways move a flat area's colour by a few steps.
constexpr int tolerance = 16;

// The average colour (0xRRGGBB) of the middle of `area` in a decoded RGB picture.
std::uint32_t averageOf(const VideoDecoder::Picture& picture, const Bounds& area) {
    long sums[3] = {0, 0, 0};
    long count = 0;
    for (int y = area.y + area.height / 4; y < area.y + area.height * 3 / 4; ++y) {
        for (int x = area.x + area.width / 4; x < area.x + area.width * 3 / 4; ++x) {
            const std::uint8_t* pixel = picture.pixels.data() + static_cast<std::size_t>(y) * picture.bytesPerRow +
                                        static_cast<std::size_t>(x) * 3;
            for (int channel = 0; channel < 3; ++channel) sums[channel] += pixel[channel];
            ++count;
        }
    }
    return static_cast<std::uint32_t>(sums[0] / count) << 16 | static_cast<std::uint32_t>(sums[1] / count) << 8 |
           static_cast<std::uint32_t>(sums[2] / count);
}

bool near(std::uint32_t found, std::uint32_t expected) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int a = static_cast<int>((found >> shift) & 0xff);
        const int b = static_cast<int>((expected >> shift) & 0xff);
        if (std::abs(a - b) > tolerance) return false;
    }
    return true;
}

class CaptureIntegrationVideo : public ::testing::TestWithParam<VideoCodec> {
protected:
    CaptureIntegrationVideo() {
        // Left half red, right half blue, a green square over the red; the pointer out of the way.
        desktop.showWindow(leftHalf, red);
        desktop.showWindow(rightHalf, blue);
        square = desktop.showWindow(squareArea, green);
        desktop.movePointer(screenWidth - 1, screenHeight - 1);
        sender->attach();
    }
    ~CaptureIntegrationVideo() override {
        if (probe.isRunning()) run(probe.stop());
    }

    void run(QCoro::Task<> task) {
        bool done = false;
        [](QCoro::Task<> awaited, bool& into) -> QCoro::Task<> {
            co_await std::move(awaited);
            into = true;
        }(std::move(task), done);
        ASSERT_TRUE(actor.runUntil([&] { return done; }));
    }

    // Pulls what the sender has and decodes it as the device does. Time moves on in steps of the
    // refinement delay meanwhile, so an encoder that holds pictures back (x265) lets them out.
    std::optional<VideoDecoder::Picture> waitForPicture(
        const std::function<bool(const VideoDecoder::Picture&)>& wanted) {
        const auto deadline = std::chrono::steady_clock::now() + 8s;
        while (std::chrono::steady_clock::now() < deadline) {
            std::optional<VideoDecoder::Picture> found;
            for (const WirePacket& packet : channel->pull(1'000)) {
                if (packet.kind() == WirePacket::Kind::videoConfiguration) {
                    decoder.configure(TessaloyCore::VideoConfiguration::decode(packet));
                } else if (packet.kind() == WirePacket::Kind::videoFrame) {
                    const auto frame = TessaloyCore::VideoFrame::decode(packet);
                    frames.push_back(frame);
                    for (auto& picture : decoder.decode(frame)) {
                        if (!found && wanted(picture)) found = std::move(picture);
                    }
                }
            }
            if (found) return found;
            actor.advance(Plovander::CaptureEncodingOutput::refinementDelay);
            std::this_thread::sleep_for(20ms);
        }
        return std::nullopt;
    }

    const Bounds leftHalf{0, 0, screenWidth / 2, screenHeight};
    const Bounds rightHalf{screenWidth / 2, 0, screenWidth / 2, screenHeight};
    const Bounds squareArea{100, 100, 96, 96};

    Testing::XvfbServer server{{.width = screenWidth, .height = screenHeight, .disabledExtensions = {}}};
    Testing::X11TestDesktop desktop{server.displayName()};
    ::Window square = 0;
    // The X server's displays and capture; sound on a fake.
    Testing::X11Environment environment{server.displayName()};
    Testing::ManualMainActor& actor = environment.actor;
    TessaloyBase::SerialQueue captureQueue{"dev.tessaloy.capture"};
    TessaloyBase::SerialQueue audioQueue{"dev.tessaloy.capture-audio"};
    std::shared_ptr<Testing::FakePacketChannel> channel = std::make_shared<Testing::FakePacketChannel>();
    std::shared_ptr<TessaloyNet::VideoSendQueue> sendQueue =
        std::make_shared<TessaloyNet::VideoSendQueue>(16, 8'388'608);
    std::shared_ptr<TessaloyNet::VideoSender> sender = std::make_shared<TessaloyNet::VideoSender>(channel, sendQueue);
    VideoDecoder decoder{VideoDecoder::PixelLayout::rgb};
    std::vector<TessaloyCore::VideoFrame> frames;
    CaptureProbe probe{environment, captureQueue, audioQueue};
};

TEST_P(CaptureIntegrationVideo, TheDecodedPictureShowsWhatWasDrawnAndFollowsAChange) {
    run(probe.refreshDisplays());
    ASSERT_EQ(probe.displays().size(), 1u) << probe.status();
    // 960x540 at 24 fps: the 640x360 screen fits unscaled.
    const QualityRung rung = QualityRung::ladder(QualityMode::balanced).at(2);
    run(probe.start(sender, rung, GetParam()));
    ASSERT_TRUE(probe.isRunning()) << probe.status();

    const auto first = waitForPicture([](const VideoDecoder::Picture&) { return true; });
    ASSERT_TRUE(first.has_value()) << "no picture came through";
    EXPECT_EQ(first->width, screenWidth);
    EXPECT_EQ(first->height, screenHeight);
    EXPECT_TRUE(near(averageOf(*first, {0, 0, 96, screenHeight}), red))
        << std::hex << averageOf(*first, {0, 0, 96, 360});
    EXPECT_TRUE(near(averageOf(*first, rightHalf), blue)) << std::hex << averageOf(*first, rightHalf);
    EXPECT_TRUE(near(averageOf(*first, squareArea), green)) << std::hex << averageOf(*first, squareArea);

    desktop.fill(square, {0, 0, squareArea.width, squareArea.height}, yellow);
    const auto changed = waitForPicture(
        [&](const VideoDecoder::Picture& picture) { return near(averageOf(picture, squareArea), yellow); });
    ASSERT_TRUE(changed.has_value()) << "the change did not come through";
    EXPECT_TRUE(near(averageOf(*changed, rightHalf), blue));

    // Once refined, a still desktop sends nothing more.
    if (!frames.back().isRefinement) {
        ASSERT_TRUE(waitForPicture([&](const VideoDecoder::Picture&) { return frames.back().isRefinement; }));
    }
    const std::size_t sent = frames.size();
    for (int i = 0; i < 10; ++i) {
        actor.advance(1s);
        std::this_thread::sleep_for(40ms);
    }
    EXPECT_TRUE(channel->pull(1'000).empty());
    EXPECT_EQ(frames.size(), sent);

    run(probe.stop());
    EXPECT_EQ(probe.status(), "Capture stopped.");
}

INSTANTIATE_TEST_SUITE_P(Codecs, CaptureIntegrationVideo, ::testing::Values(VideoCodec::h264, VideoCodec::hevc),
                         [](const ::testing::TestParamInfo<VideoCodec>& codec) {
                             return std::string(TessaloyCore::nameOf(codec.param));
                         });

// Interleaved samples decoded from what reached the destination; safe from any thread.
class DecodedSound {
public:
    Plovander::AudioStreamer::Send send() {
        return [this](WirePacket packet) {
            const auto audio = TessaloyCore::AudioPacket::decode(packet);
            {
                std::lock_guard guard(lock_);
                if (!decoder_) decoder_.emplace(static_cast<int>(audio.sampleRate), audio.channels);
                sequences_.push_back(audio.sequence);
                for (const auto& frame : audio.frames) {
                    const auto part = decoder_->decode(frame);
                    samples_.insert(samples_.end(), part.begin(), part.end());
                }
            }
            changed_.notify_all();
        };
    }
    bool waitForLoudFrames(std::size_t count) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, 8s, [&] { return loudFrames() >= count; });
    }
    std::vector<float> samples() const {
        std::lock_guard guard(lock_);
        return samples_;
    }
    std::vector<std::uint32_t> sequences() const {
        std::lock_guard guard(lock_);
        return sequences_;
    }

private:
    std::size_t loudFrames() const {
        std::size_t loud = 0;
        for (std::size_t i = 0; i < samples_.size(); i += 2) {
            if (std::fabs(samples_[i]) > 0.1f) ++loud;
        }
        return loud;
    }

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::optional<TessaloyMedia::AacDecoder> decoder_;
    std::vector<float> samples_;
    std::vector<std::uint32_t> sequences_;
};

// The frequency of the first channel of a stereo tone from its rising zero crossings, over the part
// where it sounds and away from its edges.
double frequencyOf(const std::vector<float>& samples, int sampleRate) {
    const std::size_t frames = samples.size() / 2;
    std::size_t first = 0;
    while (first < frames && std::fabs(samples[first * 2]) < 0.1f) ++first;
    std::size_t last = frames;
    while (last > first && std::fabs(samples[(last - 1) * 2]) < 0.1f) --last;
    const auto margin = static_cast<std::size_t>(sampleRate / 50);
    if (last - first < 4 * margin) return 0;
    double firstCrossing = -1;
    double lastCrossing = -1;
    int crossings = 0;
    for (std::size_t frame = first + margin + 1; frame < last - margin; ++frame) {
        const float before = samples[(frame - 1) * 2];
        const float after = samples[frame * 2];
        if (before < 0 && after >= 0) {
            const double when = static_cast<double>(frame - 1) + before / (before - after);
            if (firstCrossing < 0) firstCrossing = when;
            lastCrossing = when;
            ++crossings;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * sampleRate / (lastCrossing - firstCrossing);
}

TEST(CaptureIntegrationAudio, APlayedToneComesBackFromTheAudioPacketsAtItsFrequency) {
    Testing::PulseAudioServer server;
    TessaloyBase::SerialQueue queue("dev.tessaloy.capture-audio");
    DecodedSound sound;
    {
        Plovander::AudioStreamer streamer(queue, [&](TessaloyBase::SerialQueue& given) {
            return std::shared_ptr<Platform::AudioCapture>(Platform::AudioCapture::create(given, server.server()));
        });
        streamer.setDestination(sound.send());
        streamer.start();
        server.playTone(1000.0, 500ms);
        // A sine is above a fifth of its peak 87 % of the time: most of the half second came back.
        ASSERT_TRUE(sound.waitForLoudFrames(48000 * 40 / 100)) << "the tone did not come back";
        streamer.stop();
    }
    EXPECT_NEAR(frequencyOf(sound.samples(), 48000), 1000.0, 20.0);
    const auto sequences = sound.sequences();
    for (std::size_t i = 0; i < sequences.size(); ++i) EXPECT_EQ(sequences[i], i);
}

} // namespace
