#include "tests/support/FakePacketChannel.h"

#include <algorithm>
#include <utility>

namespace Testing {

using TessaloyCore::WirePacket;

FakePacketChannel::FakePacketChannel() : queue_("dev.tessaloy.channel") {}

// Every queue hop waits for its work, so nothing is left on the queue that could outlive the fake.
FakePacketChannel::~FakePacketChannel() = default;

void FakePacketChannel::setEvents(Events events) {
    std::lock_guard guard(lock_);
    events_ = std::move(events);
}

void FakePacketChannel::setPacketSource(PacketSource source) {
    std::lock_guard guard(lock_);
    source_ = std::move(source);
}

void FakePacketChannel::resumeSending() {
    std::lock_guard guard(lock_);
    ++resumeCount_;
}

void FakePacketChannel::sendDirect(WirePacket packet) {
    std::lock_guard guard(lock_);
    if (closed_) return;
    log_.push_back({Route::direct, std::move(packet), std::nullopt});
}

bool FakePacketChannel::sendDroppable(WirePacket packet, int limit) {
    std::lock_guard guard(lock_);
    if (closed_ || droppableInFlight_ >= limit) return false;
    ++droppableInFlight_;
    log_.push_back({Route::droppable, std::move(packet), std::nullopt});
    return true;
}

void FakePacketChannel::pauseReading(bool paused) {
    std::lock_guard guard(lock_);
    readingPaused_ = paused;
}

bool FakePacketChannel::isReadingPaused() const {
    std::lock_guard guard(lock_);
    return readingPaused_;
}

void FakePacketChannel::close(std::optional<std::string> error) { finishClose(std::move(error), true); }

std::optional<TessaloyCore::Bytes> FakePacketChannel::peerPublicKey() const {
    std::lock_guard guard(lock_);
    return peerPublicKey_;
}

TessaloyNet::LatencySamples FakePacketChannel::latency() const {
    std::lock_guard guard(lock_);
    return latency_;
}

std::vector<WirePacket> FakePacketChannel::pull(std::size_t count) {
    std::vector<WirePacket> pulled;
    onQueue([&] {
        for (std::size_t i = 0; i < count; ++i) {
            PacketSource source;
            {
                std::lock_guard guard(lock_);
                if (closed_ || !source_) return;
                source = source_;
            }
            std::optional<WirePacket> packet = source();
            if (!packet) return;
            std::lock_guard guard(lock_);
            if (closed_) return;
            log_.push_back({Route::pulled, *packet, std::nullopt});
            pulled.push_back(std::move(*packet));
        }
    });
    return pulled;
}

int FakePacketChannel::droppableInFlight() const {
    std::lock_guard guard(lock_);
    return droppableInFlight_;
}

void FakePacketChannel::deliverDroppable(int count) {
    std::lock_guard guard(lock_);
    droppableInFlight_ = std::max(0, droppableInFlight_ - count);
}

void FakePacketChannel::receive(WirePacket packet) {
    onQueue([&] {
        std::function<void(WirePacket)> deliver;
        {
            std::lock_guard guard(lock_);
            if (closed_) return;
            deliver = events_.packet;
        }
        if (deliver) deliver(std::move(packet));
    });
}

void FakePacketChannel::simulatePeerClose(std::optional<std::string> error) { finishClose(std::move(error), false); }

void FakePacketChannel::setPeerPublicKey(std::optional<TessaloyCore::Bytes> key) {
    std::lock_guard guard(lock_);
    peerPublicKey_ = std::move(key);
}

void FakePacketChannel::addRoundTrip(double seconds) {
    std::lock_guard guard(lock_);
    latency_.add(seconds);
}

std::vector<FakePacketChannel::Entry> FakePacketChannel::log() const {
    std::lock_guard guard(lock_);
    return log_;
}

std::vector<WirePacket> FakePacketChannel::sent(Route route) const {
    std::lock_guard guard(lock_);
    std::vector<WirePacket> packets;
    for (const Entry& entry : log_) {
        if (entry.route == route && entry.packet) packets.push_back(*entry.packet);
    }
    return packets;
}

std::size_t FakePacketChannel::resumeCount() const {
    std::lock_guard guard(lock_);
    return resumeCount_;
}

bool FakePacketChannel::hasPacketSource() const {
    std::lock_guard guard(lock_);
    return static_cast<bool>(source_);
}

bool FakePacketChannel::isClosed() const {
    std::lock_guard guard(lock_);
    return closed_;
}

void FakePacketChannel::onQueue(const std::function<void()>& work) {
    queue_.sync([&] { work(); });
}

void FakePacketChannel::finishClose(std::optional<std::string> error, bool record) {
    std::function<void(const std::optional<std::string>&)> closed;
    {
        std::lock_guard guard(lock_);
        if (closed_) return;
        closed_ = true;
        // Our own close goes out after everything sent before it; the peer's close sends nothing.
        if (record) log_.push_back({Route::closed, std::nullopt, error});
        closed = std::move(events_.closed);
        source_ = nullptr;
    }
    if (closed) onQueue([&] { closed(error); });
}

} // namespace Testing
