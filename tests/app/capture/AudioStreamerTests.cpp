#include "app/capture/AudioStreamer.h"

#include "core/AudioPacket.h"
#include "media/AacDecoder.h"
#include "tests/support/FakeAudioCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Plovander::AudioStreamer;
using TessaloyCore::AudioPacket;
using TessaloyCore::WirePacket;
using Testing::FakeAudioCapture;

// The packets one destination received, in order. Safe from any thread.
class Destination {
public:
    AudioStreamer::Send send() {
        return [this](WirePacket packet) {
            std::lock_guard guard(lock_);
            packets_.push_back(AudioPacket::decode(packet));
        };
    }
    std::vector<AudioPacket> packets() const {
        std::lock_guard guard(lock_);
        return packets_;
    }

private:
    mutable std::mutex lock_;
    std::vector<AudioPacket> packets_;
};

std::vector<std::uint32_t> sequences(const std::vector<AudioPacket>& packets) {
    std::vector<std::uint32_t> result;
    for (const auto& packet : packets) result.push_back(packet.sequence);
    return result;
}

std::vector<std::uint32_t> upTo(std::size_t count) {
    std::vector<std::uint32_t> result;
    for (std::uint32_t i = 0; i < count; ++i) result.push_back(i);
    return result;
}

// Decodes every frame of the packets into interleaved samples.
std::vector<float> decoded(const std::vector<AudioPacket>& packets, int sampleRate, int channels) {
    TessaloyMedia::AacDecoder decoder(sampleRate, channels);
    std::vector<float> samples;
    for (const auto& packet : packets) {
        for (const auto& frame : packet.frames) {
            const auto part = decoder.decode(frame);
            samples.insert(samples.end(), part.begin(), part.end());
        }
    }
    return samples;
}

// The tone's frequency in the first channel from its rising zero crossings, away from the edges.
double frequencyOf(const std::vector<float>& samples, int channels, int sampleRate) {
    const std::size_t frames = samples.size() / static_cast<std::size_t>(channels);
    const auto at = [&](std::size_t frame) { return samples[frame * static_cast<std::size_t>(channels)]; };
    const std::size_t margin = static_cast<std::size_t>(sampleRate / 20);
    if (frames < 4 * margin) return 0;
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (std::size_t frame = margin + 1; frame + margin < frames; ++frame) {
        if (at(frame - 1) < 0 && at(frame) >= 0) {
            const double when = static_cast<double>(frame - 1) + at(frame - 1) / (at(frame - 1) - at(frame));
            if (first < 0) first = when;
            last = when;
            ++crossings;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * sampleRate / (last - first);
}

class AudioStreamerTest : public ::testing::Test {
protected:
    // Hands over `seconds` of a tone in 10 ms chunks, as the sound server does.
    void play(double seconds, double frequency = 1000) {
        const auto chunks = static_cast<int>(seconds * 100);
        for (int i = 0; i < chunks; ++i) ASSERT_TRUE(capture->deliverTone(frequency, 480));
    }

    TessaloyBase::SerialQueue queue{"dev.tessaloy.capture-audio"};
    std::shared_ptr<FakeAudioCapture> capture = std::make_shared<FakeAudioCapture>(queue);
    std::size_t capturesMade = 0;
    AudioStreamer streamer{queue, [this](TessaloyBase::SerialQueue& given) -> std::shared_ptr<Platform::AudioCapture> {
                               EXPECT_EQ(&given, &queue);
                               ++capturesMade;
                               return capture;
                           }};
    Destination first;
    Destination second;
};

TEST_F(AudioStreamerTest, PacksTwoFramesPerPacketInSequenceAndTheToneSurvives) {
    streamer.setDestination(first.send());
    streamer.start();
    ASSERT_EQ(capture->formats().size(), 1u);
    EXPECT_EQ(capture->formats()[0].sampleRate, 48000);
    EXPECT_EQ(capture->formats()[0].channels, 2);

    play(1.0);
    const auto packets = first.packets();
    // 48,000 samples make 46 whole frames (the encoder keeps one back): 23 packets, give or take one.
    ASSERT_GE(packets.size(), 21u);
    ASSERT_LE(packets.size(), 24u);
    EXPECT_EQ(sequences(packets), upTo(packets.size()));
    for (const auto& packet : packets) {
        EXPECT_EQ(packet.frames.size(), AudioStreamer::framesPerPacket);
        EXPECT_EQ(packet.sampleRate, 48000u);
        EXPECT_EQ(packet.channels, 2);
    }
    EXPECT_NEAR(frequencyOf(decoded(packets, 48000, 2), 2, 48000), 1000.0, 10.0);
}

TEST_F(AudioStreamerTest, ANewDestinationGenerationRestartsTheSequence) {
    streamer.setDestination(first.send());
    EXPECT_EQ(streamer.destinationGeneration(), 1u);
    streamer.start();
    play(0.3);
    const std::size_t toFirst = first.packets().size();
    ASSERT_GE(toFirst, 3u);

    // Replacing the operation alone keeps counting.
    streamer.setSend(first.send());
    play(0.3);
    ASSERT_GT(first.packets().size(), toFirst);
    EXPECT_EQ(sequences(first.packets()), upTo(first.packets().size()));

    streamer.setDestination(second.send());
    EXPECT_EQ(streamer.destinationGeneration(), 2u);
    const std::size_t firstTotal = first.packets().size();
    play(0.3);
    EXPECT_EQ(first.packets().size(), firstTotal);
    ASSERT_GE(second.packets().size(), 3u);
    EXPECT_EQ(sequences(second.packets()), upTo(second.packets().size()));
}

TEST_F(AudioStreamerTest, NothingIsEncodedOrSentWhileSoundIsOffOrHasNowhereToGo) {
    streamer.start();
    play(0.3); // no destination yet
    streamer.setDestination(first.send());
    streamer.setQuality(false, 48000, 2, 96000);
    play(0.3);
    EXPECT_TRUE(first.packets().empty());

    streamer.setQuality(true, 48000, 2, 96000);
    play(0.3);
    const auto packets = first.packets();
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.front().sequence, 0u);

    streamer.setDestination(nullptr);
    play(0.3);
    EXPECT_EQ(first.packets().size(), packets.size());
}

TEST_F(AudioStreamerTest, AQualityChangeRebuildsTheEncoderForTheNextBuffers) {
    streamer.setDestination(first.send());
    streamer.start();
    play(0.2);
    const std::size_t before = first.packets().size();
    ASSERT_GT(before, 0u);

    streamer.setQuality(true, 24000, 1, 32000);
    EXPECT_EQ(streamer.quality(), (AudioStreamer::Quality{true, 24000, 1, 32000}));
    play(1.0);
    auto packets = first.packets();
    const std::vector<AudioPacket> after(packets.begin() + static_cast<std::ptrdiff_t>(before), packets.end());
    // 24,000 samples a second: about 11 packets of two frames.
    ASSERT_GE(after.size(), 9u);
    for (const auto& packet : after) {
        EXPECT_EQ(packet.sampleRate, 24000u);
        EXPECT_EQ(packet.channels, 1);
    }
    // The sequence goes on: the destination did not change.
    EXPECT_EQ(sequences(packets), upTo(packets.size()));
    EXPECT_NEAR(frequencyOf(decoded(after, 24000, 1), 1, 24000), 1000.0, 10.0);
}

TEST_F(AudioStreamerTest, SettingsTheEncoderRefusesSendNothingUntilValidOnesCome) {
    streamer.setDestination(first.send());
    streamer.start();
    streamer.setQuality(true, 44000, 2, 96000); // not an AAC rate
    play(0.3);
    EXPECT_TRUE(first.packets().empty());
    streamer.setQuality(true, 32000, 2, 64000);
    play(0.3);
    ASSERT_FALSE(first.packets().empty());
    EXPECT_EQ(first.packets().front().sampleRate, 32000u);
}

TEST_F(AudioStreamerTest, DestinationsSwappedWhileStreamingEachGetAWholeSequenceFromZero) {
    std::vector<std::unique_ptr<Destination>> destinations;
    for (int i = 0; i < 20; ++i) destinations.push_back(std::make_unique<Destination>());
    streamer.setDestination(destinations[0]->send());
    streamer.start();

    std::atomic<bool> playing{true};
    std::thread player([&] {
        while (playing) capture->deliverTone(1000, 480);
    });
    // Each swap comes while the previous destination is being fed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const auto fed = [&](const Destination& destination) {
        while (destination.packets().size() < 2 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        return destination.packets().size() >= 2;
    };
    for (std::size_t i = 1; i < destinations.size(); ++i) {
        EXPECT_TRUE(fed(*destinations[i - 1])) << "destination " << i - 1;
        streamer.setDestination(destinations[i]->send());
    }
    EXPECT_TRUE(fed(*destinations.back()));
    playing = false;
    player.join();

    for (const auto& destination : destinations) {
        const auto packets = destination->packets();
        EXPECT_EQ(sequences(packets), upTo(packets.size()));
    }
}

TEST_F(AudioStreamerTest, StartsOneCaptureStopsItAndPassesOnAnEndOnItsOwn) {
    std::vector<std::string> ends;
    std::mutex endsLock;
    streamer.start([&](const std::string& reason) {
        std::lock_guard guard(endsLock);
        ends.push_back(reason);
    });
    streamer.start();
    EXPECT_EQ(capturesMade, 1u);
    EXPECT_TRUE(streamer.isCapturing());

    capture->endOnItsOwn("the sound server went away");
    {
        std::lock_guard guard(endsLock);
        EXPECT_EQ(ends, std::vector<std::string>{"the sound server went away"});
    }

    streamer.stop();
    EXPECT_FALSE(streamer.isCapturing());
    EXPECT_EQ(capture->stopCount(), 1u);
    streamer.stop();
    EXPECT_EQ(capture->stopCount(), 1u);
}

TEST_F(AudioStreamerTest, AStartTheSoundServerRefusesLeavesItStopped) {
    capture->setStartFailure(
        Platform::AudioCaptureError(Platform::AudioCaptureError::Kind::noSoundServer, "Connection refused"));
    EXPECT_THROW(streamer.start(), Platform::AudioCaptureError);
    EXPECT_FALSE(streamer.isCapturing());

    capture->setStartFailure(std::nullopt);
    streamer.start();
    EXPECT_TRUE(streamer.isCapturing());
}

TEST(AudioStreamerWithoutCapture, StartSaysThereIsNoSoundCapture) {
    TessaloyBase::SerialQueue queue("dev.tessaloy.capture-audio");
    AudioStreamer streamer(queue, [](TessaloyBase::SerialQueue&) { return nullptr; });
    EXPECT_THROW(streamer.start(), std::runtime_error);
    EXPECT_FALSE(streamer.isCapturing());
}

} // namespace
