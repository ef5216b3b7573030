#include "tests/support/DeviceMediaReceiver.h"

#include "core/AudioPacket.h"
#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Testing {

using TessaloyCore::WirePacket;

DeviceMediaReceiver::DeviceMediaReceiver() = default;

DeviceMediaReceiver::~DeviceMediaReceiver() = default;

void DeviceMediaReceiver::take(const WirePacket& packet) {
    switch (packet.kind()) {
        case WirePacket::Kind::videoConfiguration:
        case WirePacket::Kind::videoFrame:
            takeVideo(packet);
            break;
        case WirePacket::Kind::audio:
            takeAudio(packet);
            break;
        default:
            return;
    }
    changed_.notify_all();
}

void DeviceMediaReceiver::failed(const std::exception& error) {
    ++tally_.failures;
    tally_.lastError = error.what();
}

void DeviceMediaReceiver::takeVideo(const WirePacket& packet) {
    std::lock_guard guard(lock_);
    try {
        if (packet.kind() == WirePacket::Kind::videoConfiguration) {
            const auto configuration = TessaloyCore::VideoConfiguration::decode(packet);
            ++tally_.configurations;
            classifier_.configure(configuration);
            decoder_.configure(configuration);
            return;
        }
        const auto frame = TessaloyCore::VideoFrame::decode(packet);
        ++tally_.frames;
        tally_.lastWasKeyframe = frame.isKeyframe;
        tally_.lastWasRefinement = frame.isRefinement;
        if (frame.isKeyframe) ++tally_.keyframes;
        if (frame.isRefinement) ++tally_.refinements;
        const auto classified = classifier_.assemble(frame);
        if (const auto* drop = std::get_if<Drop>(&classified)) {
            switch (*drop) {
                case Drop::noConfiguration:
                    ++tally_.framesWithoutConfiguration;
                    break;
                case Drop::otherGeneration:
                    ++tally_.framesOfAnotherGeneration;
                    break;
                case Drop::awaitingKeyframe:
                    ++tally_.framesBeforeKeyframe;
                    break;
                case Drop::empty:
                    break;
            }
        }
        for (auto& picture : decoder_.decode(frame)) {
            ++tally_.pictures;
            latest_ = std::move(picture);
        }
    } catch (const std::exception& error) {
        failed(error);
    }
}

void DeviceMediaReceiver::takeAudio(const WirePacket& packet) {
    std::lock_guard guard(lock_);
    try {
        const auto audio = TessaloyCore::AudioPacket::decode(packet);
        ++tally_.audioPackets;
        if (!audio_ || audio_->sampleRate() != static_cast<int>(audio.sampleRate) ||
            audio_->channels() != audio.channels) {
            audio_ = std::make_unique<TessaloyMedia::AacDecoder>(static_cast<int>(audio.sampleRate), audio.channels);
        }
        for (const auto& frame : audio.frames) {
            for (const float sample : audio_->decode(frame)) {
                ++tally_.audioSamples;
                tally_.audioPeak = std::max(tally_.audioPeak, std::fabs(sample));
            }
        }
    } catch (const std::exception& error) {
        failed(error);
    }
}

DeviceMediaReceiver::Tally DeviceMediaReceiver::tally() const {
    std::lock_guard guard(lock_);
    return tally_;
}

std::optional<DeviceMediaReceiver::Picture> DeviceMediaReceiver::latestPicture() const {
    std::lock_guard guard(lock_);
    return latest_;
}

template <typename Done>
bool DeviceMediaReceiver::wait(Done done, std::chrono::milliseconds limit, const Meanwhile& meanwhile) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // Short looks while the caller has work of its own between them; one long wait otherwise.
    const auto step = meanwhile ? std::chrono::milliseconds(5) : limit;
    for (;;) {
        if (meanwhile) meanwhile();
        std::unique_lock guard(lock_);
        const auto until = std::min(deadline, std::chrono::steady_clock::now() + step);
        if (changed_.wait_until(guard, until, done)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}

std::optional<DeviceMediaReceiver::Picture> DeviceMediaReceiver::nextPicture(std::chrono::milliseconds limit,
                                                                             const Meanwhile& meanwhile) {
    const std::uint64_t seen = tally().pictures;
    if (!wait([&] { return tally_.pictures > seen; }, limit, meanwhile)) return std::nullopt;
    return latestPicture();
}

std::optional<DeviceMediaReceiver::Picture> DeviceMediaReceiver::waitForPicture(
    const std::function<bool(const Picture&)>& wanted, std::chrono::milliseconds limit, const Meanwhile& meanwhile) {
    // The test of a picture runs under the lock, once for each new latest picture.
    std::uint64_t tested = 0;
    bool found = false;
    const bool ended = wait(
        [&] {
            if (!latest_ || tally_.pictures == tested) return found;
            tested = tally_.pictures;
            found = wanted(*latest_);
            return found;
        },
        limit, meanwhile);
    if (!ended) return std::nullopt;
    return latestPicture();
}

bool DeviceMediaReceiver::waitUntil(const std::function<bool(const Tally&)>& done, std::chrono::milliseconds limit,
                                    const Meanwhile& meanwhile) {
    return wait([&] { return done(tally_); }, limit, meanwhile);
}

std::uint32_t DeviceMediaReceiver::averageColour(const Picture& picture, const Bounds& area) {
    const int left = std::clamp(area.x + area.width / 4, 0, picture.width);
    const int right = std::clamp(area.x + area.width * 3 / 4, 0, picture.width);
    const int top = std::clamp(area.y + area.height / 4, 0, picture.height);
    const int bottom = std::clamp(area.y + area.height * 3 / 4, 0, picture.height);
    std::uint64_t sums[3] = {0, 0, 0};
    std::uint64_t count = 0;
    for (int y = top; y < bottom; ++y) {
        const std::uint8_t* row = picture.pixels.data() + static_cast<std::size_t>(y) * picture.bytesPerRow;
        for (int x = left; x < right; ++x) {
            for (int channel = 0; channel < 3; ++channel)
                sums[channel] += row[static_cast<std::size_t>(x) * 3 + channel];
            ++count;
        }
    }
    if (count == 0) return 0;
    return static_cast<std::uint32_t>(sums[0] / count) << 16 | static_cast<std::uint32_t>(sums[1] / count) << 8 |
           static_cast<std::uint32_t>(sums[2] / count);
}

bool DeviceMediaReceiver::isNear(std::uint32_t found, std::uint32_t expected, int tolerance) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int a = static_cast<int>((found >> shift) & 0xff);
        const int b = static_cast<int>((expected >> shift) & 0xff);
        if (std::abs(a - b) > tolerance) return false;
    }
    return true;
}

} // namespace Testing
