#include "media/AacDecoder.h"
#include "media/AacEncoder.h"
#include "media/MediaError.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

using namespace TessaloyMedia;
using TessaloyCore::Bytes;
using Testing::problemOf;

constexpr double toneHertz = 1'000;
constexpr double toneAmplitude = 0.5;

// Interleaved samples of a sine on every channel.
std::vector<float> sine(int sampleRate, int channels, double seconds, double hertz = toneHertz) {
    const auto count = static_cast<std::size_t>(seconds * sampleRate);
    std::vector<float> samples(count * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < count; ++i) {
        const auto value = static_cast<float>(
            toneAmplitude * std::sin(2 * std::numbers::pi * hertz * static_cast<double>(i) / sampleRate));
        for (int channel = 0; channel < channels; ++channel)
            samples[i * static_cast<std::size_t>(channels) + channel] = value;
    }
    return samples;
}

// Feeds the samples in 10 ms pieces, as capture does.
std::vector<Bytes> encodeInPieces(AacEncoder& encoder, const std::vector<float>& samples, int sampleRate,
                                  int channels) {
    std::vector<Bytes> frames;
    const auto total = samples.size() / static_cast<std::size_t>(channels);
    const auto piece = static_cast<std::size_t>(sampleRate / 100);
    for (std::size_t start = 0; start < total; start += piece) {
        TessaloyBase::AudioBufferView view;
        view.samples = samples.data() + start * static_cast<std::size_t>(channels);
        view.frameCount = std::min(piece, total - start);
        view.channels = channels;
        view.sampleRate = sampleRate;
        for (auto& frame : encoder.encode(view)) frames.push_back(std::move(frame));
    }
    return frames;
}

std::vector<float> decodeAll(const std::vector<Bytes>& frames, int sampleRate, int channels) {
    AacDecoder decoder(sampleRate, channels);
    std::vector<float> samples;
    for (const Bytes& frame : frames) {
        const auto decoded = decoder.decode(frame);
        samples.insert(samples.end(), decoded.begin(), decoded.end());
    }
    return samples;
}

std::vector<double> channelOf(const std::vector<float>& samples, int channels, int channel, std::size_t skip) {
    std::vector<double> values;
    for (std::size_t i = skip * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel);
         i < samples.size(); i += static_cast<std::size_t>(channels)) {
        values.push_back(samples[i]);
    }
    return values;
}

// Power of one frequency (Goertzel), normalised so a sine of amplitude A gives A * A / 4.
double powerAt(const std::vector<double>& values, double hertz, int sampleRate) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hertz / sampleRate);
    double previous = 0;
    double beforePrevious = 0;
    for (const double value : values) {
        const double current = value + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power =
        previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    const double n = static_cast<double>(values.size());
    return power / (n * n);
}

double zeroCrossingHertz(const std::vector<double>& values, int sampleRate) {
    int crossings = 0;
    for (std::size_t i = 1; i < values.size(); ++i) {
        if ((values[i - 1] < 0) != (values[i] < 0)) ++crossings;
    }
    return crossings / 2.0 / (static_cast<double>(values.size()) / sampleRate);
}

double rms(const std::vector<double>& values) {
    double sum = 0;
    for (const double value : values) sum += value * value;
    return std::sqrt(sum / static_cast<double>(values.size()));
}

void expectTone(const std::vector<float>& samples, int sampleRate, int channels) {
    // Past the encoder's priming and the decoder's start-up.
    const std::size_t skip = 4 * AacEncoder::samplesPerFrame;
    for (int channel = 0; channel < channels; ++channel) {
        auto values = channelOf(samples, channels, channel, skip);
        ASSERT_GT(values.size(), static_cast<std::size_t>(sampleRate / 2));
        values.resize(static_cast<std::size_t>(sampleRate / 2)); // half a second: whole periods of 1 kHz
        EXPECT_NEAR(zeroCrossingHertz(values, sampleRate), toneHertz, 10) << "channel " << channel;
        const double tone = powerAt(values, toneHertz, sampleRate);
        EXPECT_NEAR(tone, toneAmplitude * toneAmplitude / 4, 0.2 * toneAmplitude * toneAmplitude / 4);
        EXPECT_LT(powerAt(values, 700, sampleRate), tone / 1'000);
        EXPECT_LT(powerAt(values, 1'500, sampleRate), tone / 1'000);
        EXPECT_NEAR(rms(values), toneAmplitude / std::numbers::sqrt2, 0.1 * toneAmplitude);
    }
}

struct AudioCase {
    AacEncoder::Settings settings;
    int captureRate;
    int captureChannels;
};

class AacRoundTrip : public testing::TestWithParam<AudioCase> {};

TEST_P(AacRoundTrip, ToneComesBackAtItsFrequency) {
    const AudioCase audio = GetParam();
    AacEncoder encoder(audio.settings);
    const auto input = sine(audio.captureRate, audio.captureChannels, 1.5);
    auto frames = encodeInPieces(encoder, input, audio.captureRate, audio.captureChannels);
    for (auto& frame : encoder.flush()) frames.push_back(std::move(frame));

    // 1.5 s at the stream's rate, plus the encoder's priming frame, give this many frames.
    const auto expectedFrames =
        static_cast<std::size_t>(std::ceil(1.5 * audio.settings.sampleRate / AacEncoder::samplesPerFrame) + 1);
    EXPECT_NEAR(static_cast<double>(frames.size()), static_cast<double>(expectedFrames), 1);
    std::size_t totalBytes = 0;
    for (const Bytes& frame : frames) {
        EXPECT_GE(frame.size(), 1u);
        EXPECT_LE(frame.size(), AacEncoder::maximumFrameBytes);
        totalBytes += frame.size();
    }
    // Near the asked bitrate (the priming frame and the tone's simplicity make it a little lower).
    const double bitrate = totalBytes * 8.0 / 1.5;
    EXPECT_GT(bitrate, 0.4 * static_cast<double>(audio.settings.bitrate));
    EXPECT_LT(bitrate, 1.3 * static_cast<double>(audio.settings.bitrate));

    const auto decoded = decodeAll(frames, audio.settings.sampleRate, audio.settings.channels);
    expectTone(decoded, audio.settings.sampleRate, audio.settings.channels);
}

INSTANTIATE_TEST_SUITE_P(Qualities, AacRoundTrip,
                         testing::Values(AudioCase{{48'000, 2, 96'000}, 48'000, 2},
                                         AudioCase{{24'000, 1, 32'000}, 24'000, 1},
                                         AudioCase{{24'000, 1, 32'000}, 48'000, 2},
                                         AudioCase{{48'000, 2, 64'000}, 44'100, 1}),
                         [](const auto& testCase) {
                             return std::to_string(testCase.param.settings.sampleRate) + "Hz" +
                                    std::to_string(testCase.param.settings.channels) + "ch_from" +
                                    std::to_string(testCase.param.captureRate) + "Hz" +
                                    std::to_string(testCase.param.captureChannels) + "ch";
                         });

TEST(AacEncoder, FollowsACaptureThatChangesFormat) {
    AacEncoder encoder({48'000, 2, 96'000});
    auto frames = encodeInPieces(encoder, sine(44'100, 2, 0.5), 44'100, 2);
    for (auto& frame : encodeInPieces(encoder, sine(48'000, 1, 0.5), 48'000, 1)) frames.push_back(std::move(frame));
    for (auto& frame : encoder.flush()) frames.push_back(std::move(frame));
    EXPECT_NEAR(static_cast<double>(frames.size()), std::ceil(48'000.0 / 1'024) + 1, 1);
    const auto decoded = decodeAll(frames, 48'000, 2);
    // The tone of the second half, well after the switch.
    const auto values = channelOf(decoded, 2, 1, 36'000);
    ASSERT_GT(values.size(), 9'600u);
    EXPECT_NEAR(zeroCrossingHertz({values.begin(), values.begin() + 9'600}, 48'000), toneHertz, 10);
}

TEST(AacEncoder, RefusesSettingsAacCannotCarry) {
    EXPECT_EQ(problemOf<MediaError>([] { AacEncoder({45'000, 2, 96'000}); }), MediaProblem::invalidInput);
    EXPECT_EQ(problemOf<MediaError>([] { AacEncoder({48'000, 0, 96'000}); }), MediaProblem::invalidInput);
    EXPECT_EQ(problemOf<MediaError>([] { AacEncoder({48'000, 3, 96'000}); }), MediaProblem::invalidInput);
    EXPECT_EQ(problemOf<MediaError>([] { AacEncoder({48'000, 2, 0}); }), MediaProblem::invalidInput);
    EXPECT_NO_THROW(AacEncoder({44'100, 1, 8'000}));
}

TEST(AacEncoder, RefusesUnusableBuffersAndGoesOn) {
    AacEncoder encoder({48'000, 2, 96'000});
    const auto samples = sine(48'000, 2, 0.1);
    TessaloyBase::AudioBufferView view{samples.data(), samples.size() / 2, 2, 48'000};
    auto bad = view;
    bad.channels = 0;
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(bad); }), MediaProblem::invalidInput);
    bad = view;
    bad.sampleRate = 0;
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(bad); }), MediaProblem::invalidInput);
    bad = view;
    bad.samples = nullptr;
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(bad); }), MediaProblem::invalidInput);
    bad = view;
    bad.channels = AacEncoder::maximumInputChannels + 1;
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(bad); }), MediaProblem::invalidInput);
    bad = view;
    bad.frameCount = 0;
    EXPECT_TRUE(encoder.encode(bad).empty());

    EXPECT_GE(encoder.encode(view).size(), 3u);
    EXPECT_FALSE(encoder.flush().empty());
    EXPECT_TRUE(encoder.flush().empty());
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(view); }), MediaProblem::encodeFailed);
}

TEST(AacDecoder, BuildsTheAudioSpecificConfig) {
    EXPECT_EQ(AacDecoder::audioSpecificConfig(48'000, 2), (Bytes{0x11, 0x90}));
    EXPECT_EQ(AacDecoder::audioSpecificConfig(24'000, 1), (Bytes{0x13, 0x08}));
    EXPECT_EQ(AacDecoder::audioSpecificConfig(44'100, 2), (Bytes{0x12, 0x10}));
    // A rate without an index is written out: index 15, then 24 bits of rate.
    EXPECT_EQ(AacDecoder::audioSpecificConfig(50'000, 1), (Bytes{0x17, 0x80, 0x61, 0xA8, 0x08}));
}

TEST(AacDecoder, RefusesEmptyAndDamagedFrames) {
    EXPECT_EQ(problemOf<MediaError>([] { AacDecoder(48'000, 3); }), MediaProblem::invalidInput);
    EXPECT_EQ(problemOf<MediaError>([] { AacDecoder(0, 2); }), MediaProblem::invalidInput);
    AacDecoder decoder(48'000, 2);
    EXPECT_EQ(problemOf<MediaError>([&] { decoder.decode(Bytes{}); }), MediaProblem::invalidInput);
    EXPECT_EQ(problemOf<MediaError>([&] { decoder.decode(Bytes(64, 0xFF)); }), MediaProblem::decodeFailed);
}

} // namespace
