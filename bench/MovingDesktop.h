#pragma once

#include "app/capture/CaptureEncodingOutput.h"
#include "base/FrameView.h"
#include "base/SerialQueue.h"
#include "bench/LiveVideoSettings.h"
#include "bench/Measures.h"
#include "bench/QueueActor.h"
#include "core/VideoCodec.h"
#include "net/channel/PacketChannel.h"
#include "net/send/VideoSendQueue.h"
#include "net/send/VideoSender.h"
#include "platform/Displays.h"
#include "platform/ScreenCapture.h"
#include "tests/support/MovingPicture.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/support/XvfbServer.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Bench {

// A private Xvfb whose whole screen moves on at every step: a scrolling diagonal gradient, as video
// does.
class MovingDesktop {
public:
    MovingDesktop(int width, int height)
        : width(width),
          height(height),
          screen_({.width = width, .height = height, .disabledExtensions = {}}),
          desktop_(screen_.displayName()),
          picture_(desktop_.connection(), width, height, Testing::MovingPicture::Pattern::gradient) {}

    const std::string& displayName() const { return screen_.displayName(); }

    // When one step was asked for, and when the server had drawn it.
    struct Move {
        std::chrono::steady_clock::time_point asked;
        std::chrono::steady_clock::time_point drawn;
    };

    // Moves the picture `steps` times, `perSecond` steps a second on the real clock; returns the CPU
    // time this thread spent drawing. Adds each step to `moves`.
    double play(int steps, double perSecond, std::vector<Move>* moves = nullptr) {
        const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(1.0 / perSecond));
        double drawing = 0;
        auto next = std::chrono::steady_clock::now();
        for (int step = 0; step < steps; ++step) {
            const double before = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            const auto asked = std::chrono::steady_clock::now();
            picture_.step();
            drawing += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - before;
            if (moves) moves->push_back({asked, std::chrono::steady_clock::now()});
            next += interval;
            std::this_thread::sleep_until(next);
        }
        return drawing;
    }

    const int width;
    const int height;

private:
    Testing::XvfbServer screen_;
    Testing::X11TestDesktop desktop_;
    Testing::MovingPicture picture_;
};

// What a session does with that screen for one media channel: X11ScreenCapture of its display at
// the encoder's frame rate, CaptureEncodingOutput with `settings` (the live settings of a codec when
// given only that), and a VideoSender on `channel`. Capture stops, and the encoder finishes, on
// destruction.
class DesktopEncoding {
public:
    DesktopEncoding(const MovingDesktop& desktop, TessaloyMedia::VideoEncoder::Settings settings,
                    std::shared_ptr<TessaloyNet::PacketChannel> channel)
        : stream(Platform::ScreenCapture::create(captureQueue, desktop.displayName())),
          sendQueue(std::make_shared<TessaloyNet::VideoSendQueue>(16, 8'388'608)),
          sender(std::make_shared<TessaloyNet::VideoSender>(std::move(channel), sendQueue)),
          output(std::make_shared<Plovander::CaptureEncodingOutput>(captureQueue, actor, settings, sender, std::nullopt,
                                                                    stream, 1,
                                                                    Plovander::CaptureEncodingOutput::Events{})),
          framesPerSecond_(settings.framesPerSecond),
          displayID_(Platform::Displays::create(desktop.displayName())->list().front().displayID) {
        sender->attach();
    }
    DesktopEncoding(const MovingDesktop& desktop, TessaloyCore::VideoCodec codec,
                    std::shared_ptr<TessaloyNet::PacketChannel> channel)
        : DesktopEncoding(desktop, liveVideoSettings(codec, desktop.width, desktop.height), std::move(channel)) {}
    ~DesktopEncoding() {
        captureQueue.sync([&] {
            stream->stop();
            output->finish();
        });
        sender->stop();
    }
    DesktopEncoding(const DesktopEncoding&) = delete;
    DesktopEncoding& operator=(const DesktopEncoding&) = delete;

    // Starts capturing; `onFrame` runs on the capture queue for each grab and hands the picture to
    // `output->take`.
    void start(std::function<void(const TessaloyBase::FrameView&)> onFrame) {
        captureQueue.sync([&] {
            stream->start({.displayID = displayID_,
                           .framesPerSecond = static_cast<double>(framesPerSecond_),
                           .showsCursor = true},
                          {.onFrame = std::move(onFrame), .onStopped = {}, .onNote = {}});
        });
        output->begin();
    }

    QueueActor actor;
    TessaloyBase::SerialQueue captureQueue{"dev.tessaloy.capture"};
    const std::shared_ptr<Platform::ScreenCapture> stream;
    const std::shared_ptr<TessaloyNet::VideoSendQueue> sendQueue;
    const std::shared_ptr<TessaloyNet::VideoSender> sender;
    const std::shared_ptr<Plovander::CaptureEncodingOutput> output;

private:
    const int framesPerSecond_;
    const std::uint32_t displayID_;
};

} // namespace Bench
