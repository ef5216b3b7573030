#pragma once

#include "core/Bytes.h"
#include "core/TransferCancelReason.h"
#include "core/TransferOffer.h"
#include "core/TransferPurpose.h"
#include "tests/support/DeviceSimulator.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// How fast a TransferPeer sends: a token bucket, full at the start.
struct TransferPeerPace {
    double packetsPerSecond = 200;
    double burstPackets = 600;
};

// How a TransferPeer sends one transfer.
struct TransferPeerOffer {
    // 0: the next id of the peer's own.
    std::uint32_t id = 0;
    TessaloyCore::TransferPurpose purpose = TessaloyCore::TransferPurpose::file;
    // Empty: the file's name.
    std::string name;
    std::string contentType;
    std::size_t chunkSize = 65'536;
    // Chunks stop once this many bytes went out, until resume(). The transfer is paused as its last
    // packet before the pause goes to the channel, so before the Mac can have that packet.
    std::optional<std::uint64_t> pauseAt;
};

// The phone's side of transfers on its media channel, speaking the transfer protocol itself:
// - sends files and bytes to the Mac as the phone does, one transfer after another: the offer,
//   the chunks in order, the finish with the SHA-256 of everything sent. A token bucket below the
//   Mac's receive budget (240 packets a second, bursts of 720) paces every packet it sends, and the
//   channel pulls them only as fast as it writes, so nothing piles up in memory;
// - receives the Mac's transfers into its folder, checking every offset and the digest; a cancelled
//   or failed transfer leaves no file behind;
// - cancels its own transfers, and can stall its reading like a busy phone;
// - counts the video frames that arrive, and which of them arrived while a transfer ran.
//
// It takes over the connection's channel: it becomes its packet source and its events, and passes
// every packet but transfer messages and video frames on to the connection's log, so a long stream
// costs no memory. The connection must outlive it. Safe from any thread; `onChange` runs on the
// channel's queue after every change, never under the peer's lock.
class TransferPeer {
public:
    using Reason = TessaloyCore::TransferCancelReason;

    using Pace = TransferPeerPace;
    using Offer = TransferPeerOffer;

    // One of the peer's transfers to the Mac. The Mac may refuse it even after its finish went out.
    struct Outgoing {
        enum class State { queued, sending, paused, finished, cancelled, refused };

        TessaloyCore::TransferOffer offer;
        State state = State::queued;
        std::uint64_t sentBytes = 0;
        // The peer's own reason when it cancelled, the Mac's when the Mac refused.
        std::optional<Reason> reason;
        // Video frames that arrived from the offer until the transfer's end (so far, while it runs).
        std::uint64_t videoFramesDuring = 0;
    };

    // One of the Mac's transfers to the peer.
    struct Incoming {
        enum class State { receiving, complete, cancelled, failed };

        TessaloyCore::TransferOffer offer;
        State state = State::receiving;
        std::uint64_t receivedBytes = 0;
        // The Mac's reason, when it cancelled.
        std::optional<Reason> reason;
        // Why the peer gave up, when it failed: a bad offset, a short transfer, another digest.
        std::string problem;
        // Where the bytes are written; only a complete transfer leaves it in place.
        std::filesystem::path file;
        // Video frames that arrived from the offer until the transfer's end (so far, while it runs).
        std::uint64_t videoFramesDuring = 0;
    };

    // Takes over `media`'s channel; received files go into `folder`, which must exist.
    TransferPeer(DeviceSimulator::Connection& media, std::filesystem::path folder, Pace pace = {},
                 std::function<void()> onChange = {});
    // Gives the channel back to the connection's log; a stalled read goes on.
    ~TransferPeer();
    TransferPeer(const TransferPeer&) = delete;
    TransferPeer& operator=(const TransferPeer&) = delete;

    // Queues a transfer of the file's contents as they are when its chunks are read; returns its
    // offer. Throws std::system_error when the file cannot be opened.
    TessaloyCore::TransferOffer sendFile(const std::filesystem::path& file, Offer offer = {});
    TessaloyCore::TransferOffer sendBytes(TessaloyCore::Bytes bytes, Offer offer);
    // Continues a transfer that stopped at its `pauseAt`.
    void resume(std::uint32_t id);
    // Ends one of the peer's transfers and tells the Mac, ahead of any other packet.
    void cancel(std::uint32_t id, Reason reason = Reason::cancelled);

    // Once an incoming transfer holds at least this many bytes, the channel's reading stops (the
    // Mac's writes back up) until releaseReceiving(), or at most `limit`, which stays below the
    // Mac's read time-out.
    void holdReceivingAt(std::uint64_t bytes, std::chrono::milliseconds limit = std::chrono::seconds(5));
    void releaseReceiving();
    bool isHoldingReceiving() const;

    std::optional<Outgoing> outgoing(std::uint32_t id) const;
    std::optional<Incoming> incoming(std::uint32_t id) const;
    std::vector<Incoming> incomings() const;
    std::uint64_t videoFrames() const;
    // Transfer messages that made no sense: undecodable, or about a transfer the peer does not know.
    std::vector<std::string> problems() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace Testing
