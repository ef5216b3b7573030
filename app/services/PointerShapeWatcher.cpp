#include "app/services/PointerShapeWatcher.h"

#include "core/Sha256.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <charconv>
#include <cmath>
#include <string_view>

namespace Plovander {
namespace {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

// PNG resolution that makes the rendered picture its size in points at 72 points per inch.
constexpr double renderedDotsPerMeter = PointerShapeWatcher::renderScale * 72 / 0.0254;

// Truncated toward zero; values no integer holds count as 0.
std::int64_t truncated(double value) {
    return std::isfinite(value) && std::fabs(value) < 9.2e18 ? static_cast<std::int64_t>(value) : 0;
}

} // namespace

PointerShapeWatcher::PointerShapeWatcher(TessaloyBase::MainActor& actor, std::unique_ptr<Platform::CursorImage> cursor,
                                         Send send)
    : actor_(actor), cursor_(std::move(cursor)), send_(std::move(send)) {}

// A tick must not reach a watcher that is gone: the timer goes with it.
PointerShapeWatcher::~PointerShapeWatcher() = default;

void PointerShapeWatcher::start() {
    actor_.assertCurrent();
    if (timer_) {
        current_.reset();
        lastSignature_.reset();
        poll();
        return;
    }
    scheduleTick();
    poll();
}

void PointerShapeWatcher::stop() {
    actor_.assertCurrent();
    timer_.reset();
    current_.reset();
    lastSignature_.reset();
    sent_.clear();
}

void PointerShapeWatcher::scheduleTick() {
    timer_ = actor_.after(pollInterval, [this] {
        scheduleTick();
        poll();
    });
}

void PointerShapeWatcher::poll() {
    actor_.assertCurrent();
    // A stopped watcher keeps no record: what it saw now would make the next start send only an
    // identifier for a picture that the new session never received.
    if (!timer_ || !cursor_) return;
    const auto image = cursor_->current();
    if (!image) return;

    const std::int64_t signature = quickSignature(*image);
    if (lastSignature_ == signature) return;
    lastSignature_ = signature;

    const auto png = renderPNG(*image);
    if (!png) return;
    const std::uint32_t identifier = shapeIdentifier(*png, image->hotspotX, image->hotspotY);
    if (current_ == identifier) return;
    current_ = identifier;

    if (sent_.contains(identifier)) {
        if (send_) send_(SessionMessage{SessionMessage::PointerShape{identifier}});
        return;
    }
    sent_.insert(identifier);
    if (send_) {
        send_(SessionMessage{SessionMessage::PointerImage{.id = identifier,
                                                          .hotspotX = image->hotspotX,
                                                          .hotspotY = image->hotspotY,
                                                          .width = image->pointWidth(),
                                                          .height = image->pointHeight(),
                                                          .png = *png}});
    }
}

std::int64_t PointerShapeWatcher::quickSignature(const Image& image) {
    const std::string_view pixels(reinterpret_cast<const char*>(image.pixels.data()),
                                  image.pixels.size() * sizeof(std::uint32_t));
    // The size takes part, as two pictures of different shapes may hold the same pixels.
    auto hash = static_cast<std::int64_t>(std::hash<std::string_view>{}(pixels));
    hash ^= (std::int64_t{image.width} << 32) ^ (std::int64_t{image.height} << 48);
    return hash ^ truncated(image.hotspotX * 97) ^ truncated(image.hotspotY * 89);
}

std::optional<Bytes> PointerShapeWatcher::renderPNG(const Image& image) {
    const double pixelWidth = std::round(image.pointWidth() * renderScale);
    const double pixelHeight = std::round(image.pointHeight() * renderScale);
    const auto fits = [](double pixels) { return pixels >= 1 && pixels <= maximumRenderedPixels; };
    if (!fits(pixelWidth) || !fits(pixelHeight)) return std::nullopt;
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
        return std::nullopt;
    }

    const QImage source(reinterpret_cast<const uchar*>(image.pixels.data()), image.width, image.height,
                        static_cast<qsizetype>(image.width) * 4, QImage::Format_ARGB32_Premultiplied);
    QImage rendered = source.scaled(static_cast<int>(pixelWidth), static_cast<int>(pixelHeight), Qt::IgnoreAspectRatio,
                                    Qt::SmoothTransformation);
    if (rendered.isNull()) return std::nullopt;
    rendered.setDotsPerMeterX(static_cast<int>(std::lround(renderedDotsPerMeter)));
    rendered.setDotsPerMeterY(static_cast<int>(std::lround(renderedDotsPerMeter)));

    QByteArray encoded;
    QBuffer buffer(&encoded);
    if (!buffer.open(QIODevice::WriteOnly) || !rendered.save(&buffer, "PNG")) return std::nullopt;
    if (encoded.isEmpty() || static_cast<std::size_t>(encoded.size()) > SessionMessage::PointerImage::maximumPNGBytes) {
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(encoded.constData());
    return Bytes(bytes, bytes + encoded.size());
}

std::uint32_t PointerShapeWatcher::shapeIdentifier(ByteView png, double hotspotX, double hotspotY) {
    TessaloyCore::Sha256 digest;
    digest.update(png);
    const std::string hotspot = decimalText(hotspotX) + "," + decimalText(hotspotY);
    digest.update(ByteView(reinterpret_cast<const std::uint8_t*>(hotspot.data()), hotspot.size()));
    const auto bytes = digest.digest();
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 |
           std::uint32_t{bytes[3]};
}

std::string PointerShapeWatcher::decimalText(double value) {
    char buffer[64];
    // Plain digits between 1e-4 and 1e16, an exponent outside, as the shortest text that reads back.
    const double magnitude = std::fabs(value);
    const bool plain = std::isfinite(value) && (magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e16));
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      plain ? std::chars_format::fixed : std::chars_format::scientific);
    std::string text(buffer, result.ptr);
    if (plain && text.find('.') == std::string::npos) text += ".0";
    return text;
}

} // namespace Plovander
