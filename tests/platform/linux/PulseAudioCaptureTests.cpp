#include "platform/linux/PulseAudioCapture.h"

#include "base/SerialQueue.h"
#include "tests/support/PulseAudioServer.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <future>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Platform::AudioCapture;
using Platform::AudioCaptureError;
using Platform::Linux::PulseAudioCapture;
using TessaloyBase::AudioBufferView;
using Clock = std::chrono::steady_clock;

constexpr auto patience = 15s;

// Keeps what the capture hands over; every handler call checks that it runs on the capture queue.
class Recorder {
public:
    explicit Recorder(TessaloyBase::SerialQueue& queue) : queue_(queue) {}

    AudioCapture::Handlers handlers(std::function<void(const TessaloyBase::AudioBufferView&)> also = {}) {
        return {[this, also](const TessaloyBase::AudioBufferView& view) {
                    {
                        std::lock_guard guard(lock_);
                        offQueue_ = offQueue_ || !queue_.isCurrent();
                        ++chunks_;
                        channels_ = view.channels;
                        sampleRate_ = view.sampleRate;
                        emptyChunk_ = emptyChunk_ || view.frameCount == 0;
                        samples_.insert(samples_.end(), view.samples,
                                        view.samples + view.frameCount * static_cast<std::size_t>(view.channels));
                    }
                    changed_.notify_all();
                    if (also) also(view);
                },
                [this](const std::string& reason) {
                    {
                        std::lock_guard guard(lock_);
                        offQueue_ = offQueue_ || !queue_.isCurrent();
                        stopped_.push_back(reason);
                    }
                    changed_.notify_all();
                }};
    }

    bool waitUntil(const std::function<bool(const Recorder&)>& done, std::chrono::seconds timeout = patience) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] { return done(*this); });
    }

    // Readers below: under the lock (inside waitUntil) or once the capture has stopped.
    std::size_t chunks() const { return chunks_; }
    int channels() const { return channels_; }
    int sampleRate() const { return sampleRate_; }
    bool ranOffQueue() const { return offQueue_; }
    bool sawEmptyChunk() const { return emptyChunk_; }
    const std::vector<float>& samples() const { return samples_; }
    const std::vector<std::string>& stopped() const { return stopped_; }
    std::size_t loudFrames() const {
        std::size_t loud = 0;
        for (std::size_t i = 0; channels_ > 0 && i < samples_.size(); i += static_cast<std::size_t>(channels_)) {
            if (std::fabs(samples_[i]) > 0.1f) ++loud;
        }
        return loud;
    }
    std::size_t chunksNow() {
        std::lock_guard guard(lock_);
        return chunks_;
    }

private:
    TessaloyBase::SerialQueue& queue_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::size_t chunks_ = 0;
    int channels_ = 0;
    int sampleRate_ = 0;
    bool offQueue_ = false;
    bool emptyChunk_ = false;
    std::vector<float> samples_;
    std::vector<std::string> stopped_;
};

// The frequency of the tone in one channel, from its rising zero crossings (interpolated), measured
// over the part where it sounds.
double measuredFrequency(const std::vector<float>& samples, int channels, int channel, int sampleRate) {
    const auto frames = samples.size() / static_cast<std::size_t>(channels);
    const auto at = [&](std::size_t frame) {
        return samples[frame * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)];
    };
    std::size_t first = 0;
    while (first < frames && std::fabs(at(first)) < 0.1f) ++first;
    std::size_t last = frames;
    while (last > first && std::fabs(at(last - 1)) < 0.1f) --last;
    // Keep clear of the edges, where the resamplers ramp in and out.
    const auto margin = static_cast<std::size_t>(sampleRate / 50);
    if (last - first < 4 * margin) return 0;
    first += margin;
    last -= margin;

    double firstCrossing = -1;
    double lastCrossing = -1;
    int crossings = 0;
    for (std::size_t frame = first + 1; frame < last; ++frame) {
        const float before = at(frame - 1);
        const float after = at(frame);
        if (before < 0 && after >= 0) {
            const double when = static_cast<double>(frame - 1) + before / (before - after);
            if (firstCrossing < 0) firstCrossing = when;
            lastCrossing = when;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) * sampleRate / (lastCrossing - firstCrossing);
}

// Holds handlers up until opened; opens on destruction, so a failed assertion never leaves the queue
// stuck.
class Gate {
public:
    ~Gate() { open(); }
    std::shared_future<void> opened() const { return opened_; }
    void open() {
        if (!std::exchange(open_, true)) promise_.set_value();
    }

private:
    std::promise<void> promise_;
    std::shared_future<void> opened_ = promise_.get_future().share();
    bool open_ = false;
};

class PulseAudioCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::cout << "private PulseAudio ready in " << server.startupTime().count() * 1000 << " ms\n";
    }

    Testing::PulseAudioServer server;
    TessaloyBase::SerialQueue queue{"dev.tessaloy.capture-audio"};
    Recorder recorder{queue};
    Recorder second{queue};
    // Last, so it stops before anything its handlers use goes away.
    std::unique_ptr<AudioCapture> capture = AudioCapture::create(queue, server.server());
};

TEST_F(PulseAudioCaptureTest, CapturesAPlayedToneAtItsFrequency) {
    capture->start({48000, 2}, recorder.handlers());
    server.playTone(1000.0, 500ms);
    // Played means rendered by the sink; the monitor hands it over a little later. A sine is above a
    // fifth of its peak 87 % of the time.
    ASSERT_TRUE(recorder.waitUntil([](const Recorder& r) { return r.loudFrames() >= 48000 * 40 / 100; }))
        << "the tone did not arrive";
    capture->stop();

    EXPECT_EQ(recorder.channels(), 2);
    EXPECT_EQ(recorder.sampleRate(), 48000);
    EXPECT_FALSE(recorder.ranOffQueue());
    EXPECT_FALSE(recorder.sawEmptyChunk());
    EXPECT_EQ(capture->droppedChunks(), 0u);
    for (int channel = 0; channel < 2; ++channel) {
        EXPECT_NEAR(measuredFrequency(recorder.samples(), 2, channel, 48000), 1000.0, 20.0) << "channel " << channel;
    }
}

TEST_F(PulseAudioCaptureTest, StopIsFinalAndCaptureStartsAgainInAnotherFormat) {
    capture->start({48000, 2}, recorder.handlers());
    ASSERT_TRUE(recorder.waitUntil([](const Recorder& r) { return r.chunks() >= 3; }));
    capture->stop();
    const std::size_t atStop = recorder.chunksNow();
    // Whatever was posted before stop returned has now had its turn on the queue.
    queue.sync([] {});
    EXPECT_EQ(recorder.chunksNow(), atStop);
    capture->stop();

    capture->start({24000, 1}, second.handlers());
    server.playTone(1000.0, 300ms, 48000, 2);
    ASSERT_TRUE(second.waitUntil([](const Recorder& r) { return r.loudFrames() >= 24000 * 24 / 100; }));
    capture->stop();
    EXPECT_EQ(second.channels(), 1);
    EXPECT_EQ(second.sampleRate(), 24000);
    EXPECT_NEAR(measuredFrequency(second.samples(), 1, 0, 24000), 1000.0, 20.0);
    EXPECT_EQ(recorder.chunksNow(), atStop);
}

TEST_F(PulseAudioCaptureTest, StartWhileRunningReplacesTheRunningCapture) {
    capture->start({48000, 2}, recorder.handlers());
    ASSERT_TRUE(recorder.waitUntil([](const Recorder& r) { return r.chunks() >= 1; }));
    capture->start({48000, 1}, second.handlers());
    const std::size_t firstChunks = recorder.chunksNow();
    ASSERT_TRUE(second.waitUntil([](const Recorder& r) { return r.chunks() >= 3; }));
    EXPECT_EQ(recorder.chunksNow(), firstChunks);
    EXPECT_EQ(second.channels(), 1);
}

TEST_F(PulseAudioCaptureTest, StopCalledFromItsOwnHandlerReturns) {
    auto stopped = std::make_shared<std::promise<void>>();
    auto stoppedOnce = stopped->get_future();
    capture->start({48000, 2}, recorder.handlers([this, stopped, once = std::make_shared<std::once_flag>()](
                                                     const TessaloyBase::AudioBufferView&) {
        std::call_once(*once, [&] {
            capture->stop();
            stopped->set_value();
        });
    }));
    ASSERT_EQ(stoppedOnce.wait_for(patience), std::future_status::ready);
    queue.sync([] {});
    EXPECT_EQ(recorder.chunksNow(), 1u);
}

TEST_F(PulseAudioCaptureTest, ASlowQueueDropsOldChunksAndKeepsTheBacklogBounded) {
    Gate release;
    capture->start({48000, 2}, recorder.handlers([released = release.opened()](const TessaloyBase::AudioBufferView&) {
        released.wait();
    }));
    ASSERT_TRUE(recorder.waitUntil([](const Recorder& r) { return r.chunks() >= 1; }));

    // The queue is stuck in the first chunk while the server keeps recording.
    const auto deadline = Clock::now() + patience;
    while (capture->droppedChunks() < 3 * PulseAudioCapture::maximumPendingChunks && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    const auto dropped = capture->droppedChunks();
    ASSERT_GE(dropped, 3 * PulseAudioCapture::maximumPendingChunks);
    const std::size_t beforeRelease = recorder.chunksNow();
    release.open();
    capture->stop();
    // The backlog, plus what was recorded while stop() shut the stream; an unbounded backlog would
    // hand over every chunk recorded while the queue was stuck, more than four times the bound.
    EXPECT_LE(recorder.chunksNow() - beforeRelease, 2 * PulseAudioCapture::maximumPendingChunks);
    EXPECT_GE(capture->droppedChunks(), dropped);
}

TEST_F(PulseAudioCaptureTest, TheServerGoingAwayStopsCaptureWithItsReason) {
    capture->start({48000, 2}, recorder.handlers());
    ASSERT_TRUE(recorder.waitUntil([](const Recorder& r) { return r.chunks() >= 1; }));
    server.kill();
    ASSERT_TRUE(recorder.waitUntil([](const Recorder& r) { return !r.stopped().empty(); }));
    capture->stop();
    ASSERT_EQ(recorder.stopped().size(), 1u);
    EXPECT_EQ(recorder.stopped().front(), "The sound server went away: Connection terminated");
    EXPECT_FALSE(recorder.ranOffQueue());

    try {
        capture->start({48000, 2}, recorder.handlers());
        FAIL() << "started without a server";
    } catch (const AudioCaptureError& error) {
        EXPECT_EQ(error.kind(), AudioCaptureError::Kind::noSoundServer);
    }
}

TEST(PulseAudioCaptureWithoutServer, SaysThereIsNoSoundServerAtOnce) {
    Testing::TemporaryDirectory folder;
    TessaloyBase::SerialQueue queue("dev.tessaloy.capture-audio");
    const auto capture = AudioCapture::create(queue, "unix:" + (folder / "native").string());
    bool called = false;
    const AudioCapture::Handlers handlers{[&](const TessaloyBase::AudioBufferView&) { called = true; },
                                          [&](const std::string&) { called = true; }};
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto started = Clock::now();
        try {
            capture->start({48000, 2}, handlers);
            FAIL() << "started without a server";
        } catch (const AudioCaptureError& error) {
            EXPECT_EQ(error.kind(), AudioCaptureError::Kind::noSoundServer);
            EXPECT_STREQ(error.what(), "No sound server: Connection refused");
        }
        EXPECT_LT(Clock::now() - started, PulseAudioCapture::startTimeout);
    }
    capture->stop();
    queue.sync([] {});
    EXPECT_FALSE(called);
    EXPECT_EQ(capture->droppedChunks(), 0u);
}

TEST(PulseAudioCaptureWithoutServer, RefusesFormatsItCannotRecord) {
    TessaloyBase::SerialQueue queue("dev.tessaloy.capture-audio");
    const auto capture = AudioCapture::create(queue, "unix:/nonexistent/plovander/native");
    for (const AudioCapture::Format format : {AudioCapture::Format{0, 2}, AudioCapture::Format{-48000, 2},
                                              AudioCapture::Format{48000, 0}, AudioCapture::Format{48000, 33}}) {
        try {
            capture->start(format, {});
            FAIL() << format.sampleRate << " Hz, " << format.channels << " channels";
        } catch (const AudioCaptureError& error) {
            EXPECT_EQ(error.kind(), AudioCaptureError::Kind::unsupportedFormat);
            EXPECT_EQ(std::string(error.what()), "Unsupported audio format: " + std::to_string(format.sampleRate) +
                                                     " Hz, " + std::to_string(format.channels) + " channels");
        }
    }
}

} // namespace
