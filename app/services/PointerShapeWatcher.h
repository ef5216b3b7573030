#pragma once

#include "base/MainActor.h"
#include "core/Bytes.h"
#include "core/SessionMessage.h"
#include "platform/CursorImage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace Plovander {

// Tells the device, which draws the pointer itself, what the pointer looks like here: it polls the
// pointer's picture ten times a second while started, and on each new shape sends either its PNG
// (the first time the shape is seen since the watcher started) or only its identifier.
//
// Main actor only. While stopped it examines nothing and remembers nothing, so a new start sends
// each shape's picture before its identifier.
class PointerShapeWatcher final {
public:
    using SessionMessage = TessaloyCore::SessionMessage;
    using Image = Platform::CursorImage::Image;
    // The watcher's only output; called synchronously from `poll`.
    using Send = std::function<void(const SessionMessage&)>;

    static constexpr TessaloyBase::MainActor::Duration pollInterval{0.1};
    // Pictures are rendered at twice their size in points, at most this many pixels a side.
    static constexpr double renderScale = 2;
    static constexpr double maximumRenderedPixels = 512;

    // `cursor` may be null (no display server): nothing is ever sent then.
    PointerShapeWatcher(TessaloyBase::MainActor& actor, std::unique_ptr<Platform::CursorImage> cursor, Send send = {});
    ~PointerShapeWatcher();
    PointerShapeWatcher(const PointerShapeWatcher&) = delete;
    PointerShapeWatcher& operator=(const PointerShapeWatcher&) = delete;

    void setSend(Send send) { send_ = std::move(send); }

    // Begins polling; when already polling, announces the current shape again (as its identifier
    // when its picture went out since the start).
    void start();
    // Stops polling and forgets every shape sent.
    void stop();
    // Examines the pointer once; does nothing while stopped.
    void poll();
    bool isStarted() const { return timer_.has_value(); }

    // A cheap fingerprint of the picture and its hot spot, compared before anything is rendered.
    static std::int64_t quickSignature(const Image& image);
    // The picture as a PNG at `renderScale`; nothing when its size in pixels would leave
    // 1...maximumRenderedPixels or the PNG would exceed the message's limit.
    static std::optional<TessaloyCore::Bytes> renderPNG(const Image& image);
    // The first four bytes (big-endian) of SHA-256 over the PNG followed by "<x>,<y>".
    static std::uint32_t shapeIdentifier(TessaloyCore::ByteView png, double hotspotX, double hotspotY);
    // The shortest decimal text that reads back as `value`, with a decimal point in plain form
    // (4 → "4.0", 4.5 → "4.5") and an exponent below 1e-4 and from 1e16 on (1e16 → "1e+16").
    static std::string decimalText(double value);

private:
    void scheduleTick();

    TessaloyBase::MainActor& actor_;
    std::unique_ptr<Platform::CursorImage> cursor_;
    Send send_;
    std::optional<TessaloyBase::ScheduledCall> timer_;
    std::optional<std::uint32_t> current_;
    std::optional<std::int64_t> lastSignature_;
    std::set<std::uint32_t> sent_;
};

} // namespace Plovander
