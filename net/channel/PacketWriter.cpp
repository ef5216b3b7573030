#include "net/channel/PacketWriter.h"

#include "base/SerialQueue.h"

#include <asio/error.hpp>

#include <utility>

namespace TessaloyNet {

using TessaloyCore::WirePacket;

PacketWriter::PacketWriter(TessaloyBase::SerialQueue& queue, WriteFunction write, Callbacks callbacks,
                           WriteNowFunction writeNow)
    : queue_(queue), write_(std::move(write)), callbacks_(std::move(callbacks)), writeNow_(std::move(writeNow)) {}

void PacketWriter::start() {
    queue_.assertCurrent();
    started_ = true;
    writeNext();
}

void PacketWriter::setSource(PacketSource source) {
    queue_.assertCurrent();
    source_ = std::move(source);
    sourceMayHaveMore_ = true;
    writeNext();
}

void PacketWriter::resume() {
    queue_.assertCurrent();
    sourceMayHaveMore_ = true;
    writeNext();
}

void PacketWriter::sendDirect(WirePacket packet, bool droppable) {
    queue_.assertCurrent();
    if (failed_ || finishing_) {
        if (droppable && callbacks_.droppableLeft) callbacks_.droppableLeft();
        return;
    }
    direct_.push_back({.packet = std::move(packet), .droppable = droppable});
    writeNext();
}

void PacketWriter::finish() {
    queue_.assertCurrent();
    if (finishing_) return;
    finishing_ = true;
    source_ = nullptr;
    writeNext();
}

bool PacketWriter::takeNext() {
    if (current_) return true;
    if (!direct_.empty()) {
        current_ = std::move(direct_.front());
        direct_.pop_front();
    } else if (!finishing_ && source_ && sourceMayHaveMore_) {
        std::weak_ptr<char> alive = lifetime_;
        std::optional<WirePacket> pulled = source_();
        if (alive.expired()) return false;
        // The source may have queued direct packets or finished the writer meanwhile.
        if (!direct_.empty() || finishing_ || failed_) {
            if (pulled && !finishing_ && !failed_) {
                direct_.push_back({.packet = std::move(*pulled)});
            }
            if (direct_.empty()) return false;
            current_ = std::move(direct_.front());
            direct_.pop_front();
        } else if (pulled) {
            current_ = Outgoing{.packet = std::move(*pulled)};
        } else {
            sourceMayHaveMore_ = false;
            return false;
        }
    } else {
        return false;
    }
    current_->header = current_->packet.header();
    return true;
}

void PacketWriter::writeNext() {
    if (!started_ || writing_ || failed_) return;
    std::weak_ptr<char> alive = lifetime_;
    std::size_t inPlace = 0;
    while (true) {
        if (!takeNext()) {
            if (alive.expired() || writing_ || failed_) return;
            if (finishing_ && !current_ && direct_.empty()) {
                // Only once: a second finish() is ignored and no packet is queued after finishing.
                if (auto flushed = std::exchange(callbacks_.flushed, nullptr)) flushed();
            }
            return;
        }
        const ByteStream::WriteBuffers buffers = unwritten();
        if (writeNow_ && inPlace < maximumWrittenInPlace) {
            std::error_code error;
            const std::size_t count = writeNow_(buffers, error);
            if (error) return fail(error);
            if (count > 0) {
                inPlace += count;
                if (!advance(count)) return;
                // A callback may have finished or failed the writer, or started a write of its own.
                if (writing_ || failed_) return;
                continue;
            }
        }
        writing_ = true;
        write_(buffers, [this, alive](std::error_code error, std::size_t count) {
            if (alive.expired()) return;
            written(error, count);
        });
        return;
    }
}

ByteStream::WriteBuffers PacketWriter::unwritten() const {
    const Outgoing& out = *current_;
    const std::size_t headerLeft = out.header.size() > out.written ? out.header.size() - out.written : 0;
    const std::size_t payloadDone = out.written - (out.header.size() - headerLeft);
    return {asio::const_buffer(out.header.data() + (out.header.size() - headerLeft), headerLeft),
            asio::const_buffer(out.packet.payload().data() + payloadDone, out.packet.payload().size() - payloadDone)};
}

void PacketWriter::written(std::error_code error, std::size_t count) {
    queue_.assertCurrent();
    writing_ = false;
    if (!error && count == 0) error = asio::error::connection_aborted;
    if (error) return fail(error);
    if (!advance(count)) return;
    writeNext();
}

bool PacketWriter::advance(std::size_t count) {
    Outgoing& out = *current_;
    out.written += count;
    if (out.written < out.header.size() + out.packet.payload().size()) return true;
    const bool droppable = out.droppable;
    current_.reset();
    if (droppable && callbacks_.droppableLeft) {
        std::weak_ptr<char> alive = lifetime_;
        callbacks_.droppableLeft();
        if (alive.expired()) return false;
    }
    return true;
}

void PacketWriter::fail(std::error_code error) {
    failed_ = true;
    if (!discardQueued()) return;
    if (auto failed = std::exchange(callbacks_.failed, nullptr)) failed(error);
}

bool PacketWriter::discardQueued() {
    std::size_t droppables = (current_ && current_->droppable) ? 1 : 0;
    for (const Outgoing& out : direct_) droppables += out.droppable ? 1 : 0;
    current_.reset();
    direct_.clear();
    source_ = nullptr;
    std::weak_ptr<char> alive = lifetime_;
    for (std::size_t i = 0; i < droppables && callbacks_.droppableLeft; ++i) {
        callbacks_.droppableLeft();
        if (alive.expired()) return false;
    }
    return true;
}

} // namespace TessaloyNet
