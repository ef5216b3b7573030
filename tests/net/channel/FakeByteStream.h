#pragma once

#include "base/SerialQueue.h"
#include "core/Bytes.h"
#include "core/WireDecoder.h"
#include "net/channel/ByteStream.h"

#include <asio/error.hpp>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// A scripted connection for a packet channel: the test feeds what the peer sends, chooses how much
// each write takes and when it completes, and reads back what the channel wrote. Handlers run on the
// channel's queue, as the real stream's do; bytes that are there move at once through readNow and
// writeNow unless the script says otherwise. The state lives in a shared Script, so the test keeps
// it after the channel took the stream.
class FakeByteStream final : public TessaloyNet::ByteStream {
public:
    struct Script {
        std::mutex lock;
        std::condition_variable changed;
        TessaloyBase::SerialQueue* queue = nullptr;

        // Set by the test.
        std::error_code handshakeError;
        std::string handshakeFailureText = "scripted handshake failure";
        std::optional<TessaloyCore::Bytes> peerKey;
        std::optional<std::string> peerName;
        std::size_t maximumWrite = SIZE_MAX;
        // The write with this index (0 first) fails with writeError.
        std::optional<std::size_t> failingWrite;
        std::error_code writeError = asio::error::broken_pipe;
        // Writes wait for release() while set.
        bool holdWrites = false;
        // Whether readNow and writeNow move bytes; when not, everything goes through the queue.
        bool inPlace = true;

        // Seen by the test.
        TessaloyCore::Bytes written;
        std::size_t writes = 0;
        std::size_t writtenAtShutdown = SIZE_MAX;
        bool closed = false;
        // The channel destroyed the stream.
        bool streamGone = false;

        // Pending operations.
        std::deque<std::uint8_t> incoming;
        std::optional<std::error_code> incomingEnd;
        std::span<std::uint8_t> readSpace;
        IoHandler readHandler;
        std::vector<std::pair<TessaloyCore::Bytes, IoHandler>> heldWrites;

        // Peer side: bytes that the next reads return.
        void deliver(TessaloyCore::ByteView bytes) {
            std::lock_guard guard(lock);
            incoming.insert(incoming.end(), bytes.begin(), bytes.end());
            pump();
        }
        void deliverEnd(std::error_code error = asio::error::eof) {
            std::lock_guard guard(lock);
            incomingEnd = error;
            pump();
        }
        // Completes the held writes.
        void release() {
            std::lock_guard guard(lock);
            holdWrites = false;
            for (auto& [bytes, handler] : heldWrites) complete(std::move(bytes), std::move(handler));
            heldWrites.clear();
        }
        // With `lock` held: the channel took everything delivered and waits for more.
        bool drained() const { return incoming.empty() && readHandler != nullptr; }
        // What the channel wrote, as packets (pings and pongs included).
        std::vector<TessaloyCore::WirePacket> packets() {
            std::lock_guard guard(lock);
            return writtenPackets();
        }
        // The same, with `lock` held (as in a waitUntil predicate).
        std::vector<TessaloyCore::WirePacket> writtenPackets() const {
            std::vector<TessaloyCore::WirePacket> found;
            TessaloyCore::WireDecoder decoder;
            decoder.feed(written, [&](TessaloyCore::WirePacket packet) { found.push_back(std::move(packet)); });
            return found;
        }
        template <typename Predicate>
        bool waitUntil(Predicate predicate, std::chrono::milliseconds patience = std::chrono::seconds(10)) {
            std::unique_lock guard(lock);
            return changed.wait_for(guard, patience, [&] { return predicate(*this); });
        }

        // With `lock` held.
        void pump() {
            if (!readHandler) return;
            if (!incoming.empty()) {
                const std::size_t count = std::min(incoming.size(), readSpace.size());
                std::copy_n(incoming.begin(), count, readSpace.begin());
                incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(count));
                post([handler = std::exchange(readHandler, nullptr), count] { handler({}, count); });
            } else if (incomingEnd) {
                post([handler = std::exchange(readHandler, nullptr), error = *incomingEnd] { handler(error, 0); });
            }
        }
        void complete(TessaloyCore::Bytes bytes, IoHandler handler) {
            std::error_code error;
            const std::size_t count = take(bytes, error);
            post([handler = std::move(handler), error, count] { handler(error, count); });
        }
        // One write of `bytes`: the count taken, or the scripted failure.
        std::size_t take(const TessaloyCore::Bytes& bytes, std::error_code& error) {
            const std::size_t index = writes++;
            changed.notify_all();
            if (failingWrite && index == *failingWrite) {
                error = writeError;
                return 0;
            }
            written.insert(written.end(), bytes.begin(), bytes.end());
            return bytes.size();
        }
        TessaloyCore::Bytes offered(const WriteBuffers& buffers) const {
            TessaloyCore::Bytes bytes;
            for (const auto& buffer : buffers) {
                const auto* data = static_cast<const std::uint8_t*>(buffer.data());
                bytes.insert(bytes.end(), data, data + buffer.size());
            }
            bytes.resize(std::min(bytes.size(), maximumWrite));
            return bytes;
        }
        void post(std::function<void()> work) { queue->async(std::move(work)); }
    };

    FakeByteStream(TessaloyBase::SerialQueue& queue, std::shared_ptr<Script> script) : script_(std::move(script)) {
        script_->queue = &queue;
    }
    ~FakeByteStream() override {
        std::lock_guard guard(script_->lock);
        script_->streamGone = true;
        script_->changed.notify_all();
    }

    void handshake(Handler handler) override {
        std::lock_guard guard(script_->lock);
        script_->post([handler = std::move(handler), error = script_->handshakeError] { handler(error); });
    }
    void readSome(std::span<std::uint8_t> space, IoHandler handler) override {
        std::lock_guard guard(script_->lock);
        if (script_->closed) {
            script_->post([handler = std::move(handler)] { handler(asio::error::operation_aborted, 0); });
            return;
        }
        script_->readSpace = space;
        script_->readHandler = std::move(handler);
        script_->pump();
        script_->changed.notify_all();
    }
    void writeSome(WriteBuffers buffers, IoHandler handler) override {
        std::lock_guard guard(script_->lock);
        TessaloyCore::Bytes bytes = script_->offered(buffers);
        if (script_->closed) {
            script_->post([handler = std::move(handler)] { handler(asio::error::operation_aborted, 0); });
        } else if (script_->holdWrites) {
            script_->heldWrites.emplace_back(std::move(bytes), std::move(handler));
        } else {
            script_->complete(std::move(bytes), std::move(handler));
        }
    }
    std::size_t readNow(std::span<std::uint8_t> space, std::error_code& error) override {
        std::lock_guard guard(script_->lock);
        if (script_->closed) {
            error = asio::error::operation_aborted;
            return 0;
        }
        if (!script_->inPlace) return 0;
        if (script_->incoming.empty()) {
            if (script_->incomingEnd) error = *script_->incomingEnd;
            return 0;
        }
        const std::size_t count = std::min(script_->incoming.size(), space.size());
        std::copy_n(script_->incoming.begin(), count, space.begin());
        script_->incoming.erase(script_->incoming.begin(),
                                script_->incoming.begin() + static_cast<std::ptrdiff_t>(count));
        return count;
    }
    std::size_t writeNow(WriteBuffers buffers, std::error_code& error) override {
        std::lock_guard guard(script_->lock);
        if (script_->closed) {
            error = asio::error::operation_aborted;
            return 0;
        }
        if (!script_->inPlace || script_->holdWrites) return 0;
        return script_->take(script_->offered(buffers), error);
    }
    void shutdown(Handler handler) override {
        std::lock_guard guard(script_->lock);
        script_->writtenAtShutdown = script_->written.size();
        script_->post([handler = std::move(handler)] { handler({}); });
        // The peer answers with its own close_notify.
        script_->incomingEnd = asio::error::eof;
        script_->pump();
        script_->changed.notify_all();
    }
    void close() noexcept override {
        std::lock_guard guard(script_->lock);
        script_->closed = true;
        if (script_->readHandler) {
            script_->post([handler = std::exchange(script_->readHandler, nullptr)] {
                handler(asio::error::operation_aborted, 0);
            });
        }
        for (auto& held : script_->heldWrites) {
            script_->post([handler = std::move(held.second)] { handler(asio::error::operation_aborted, 0); });
        }
        script_->heldWrites.clear();
        script_->changed.notify_all();
    }
    std::optional<TessaloyCore::Bytes> peerPublicKey() const override {
        std::lock_guard guard(script_->lock);
        return script_->peerKey;
    }
    std::optional<std::string> peerName() const override {
        std::lock_guard guard(script_->lock);
        return script_->peerName;
    }
    std::string handshakeFailure(std::error_code) const override {
        std::lock_guard guard(script_->lock);
        return script_->handshakeFailureText;
    }

private:
    std::shared_ptr<Script> script_;
};

} // namespace Testing
