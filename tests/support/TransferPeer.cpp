#include "tests/support/TransferPeer.h"

#include "base/SerialQueue.h"
#include "core/Encoding.h"
#include "core/Sha256.h"
#include "core/TransferMessage.h"

#include <asio/steady_timer.hpp>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>

namespace Testing {

using TessaloyCore::Bytes;
using TessaloyCore::TransferMessage;
using TessaloyCore::TransferOffer;
using TessaloyCore::WirePacket;
using Clock = std::chrono::steady_clock;

namespace {

// Packets the peer may send now: refills at the pace's rate up to its burst, full at the start.
class Bucket {
public:
    explicit Bucket(TransferPeer::Pace pace) : pace_(pace), tokens_(pace.burstPackets) {}

    bool take(Clock::time_point now) {
        refill(now);
        if (tokens_ < 1) return false;
        tokens_ -= 1;
        return true;
    }

    // How long until take() succeeds.
    Clock::duration untilNext(Clock::time_point now) {
        refill(now);
        const double seconds = std::max(0.0, (1 - tokens_) / pace_.packetsPerSecond);
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)) +
               std::chrono::microseconds(100);
    }

private:
    void refill(Clock::time_point now) {
        if (started_ && now > last_) {
            const double elapsed = std::chrono::duration<double>(now - last_).count();
            tokens_ = std::min(pace_.burstPackets, tokens_ + elapsed * pace_.packetsPerSecond);
        }
        if (!started_ || now > last_) last_ = now;
        started_ = true;
    }

    TransferPeer::Pace pace_;
    double tokens_;
    Clock::time_point last_{};
    bool started_ = false;
};

void deleteQuietly(const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

} // namespace

struct TransferPeer::State : std::enable_shared_from_this<TransferPeer::State> {
    struct Sending {
        Outgoing record;
        std::size_t chunkSize = 0;
        std::optional<std::uint64_t> pauseAt;
        // Exactly one of the two.
        std::unique_ptr<std::ifstream> file;
        Bytes bytes;
        TessaloyCore::Sha256 digest;
        bool offerSent = false;
        std::uint64_t videoAtStart = 0;

        bool isOver() const {
            return record.state == Outgoing::State::finished || record.state == Outgoing::State::cancelled ||
                   record.state == Outgoing::State::refused;
        }
        // Chunks stop here until resume().
        bool atPause() const {
            return offerSent && pauseAt && record.sentBytes >= *pauseAt && record.sentBytes < record.offer.size;
        }
    };

    struct Receiving {
        Incoming record;
        std::unique_ptr<std::ofstream> file;
        TessaloyCore::Sha256 digest;
        std::uint64_t videoAtStart = 0;
    };

    State(DeviceSimulator::Connection& media, std::filesystem::path folder, Pace pace, std::function<void()> onChange)
        : channel(media.channel),
          log(media.log.events()),
          folder(std::move(folder)),
          onChange(std::move(onChange)),
          bucket(pace) {}

    // Channel queue.
    std::optional<WirePacket> next();
    void received(WirePacket packet);

    void handle(const TransferMessage::Offer& message);
    void handle(const TransferMessage::Chunk& message);
    void handle(const TransferMessage::Finish& message);
    void handle(const TransferMessage::Cancel& message);
    void fail(Receiving& receiving, std::string problem);
    void end(Receiving& receiving);
    // The transfer that sends next, when there is one that may send now.
    Sending* current();
    // Queues a transfer behind the others and wakes the channel; the offer as it will be sent.
    TransferOffer queue(Sending sending, const TransferPeer::Offer& offer);
    WirePacket produce(Sending& sending);
    void scheduleResume(Clock::duration delay);
    void stallIfHeld(std::unique_lock<std::mutex>& guard);
    void resumeChannel() const;
    void changed();

    const std::weak_ptr<TessaloyNet::PacketChannel> channel;
    const TessaloyNet::PacketChannel::Events log;
    const std::filesystem::path folder;

    std::mutex callbackLock;
    std::function<void()> onChange; // guarded by callbackLock; emptied when the peer goes

    mutable std::mutex lock;
    std::condition_variable holdReleased;
    Bucket bucket;
    bool resumeScheduled = false;
    std::uint32_t nextID = 0x7000'0001;
    std::map<std::uint32_t, Sending> sendings;
    // Ids of transfers not yet over, oldest first.
    std::deque<std::uint32_t> order;
    std::deque<TransferMessage> urgent;
    std::map<std::uint32_t, Receiving> receivings;
    std::uint64_t videoFrames = 0;
    std::optional<std::uint64_t> holdAt;
    std::chrono::milliseconds holdLimit{0};
    bool holding = false;
    std::vector<std::string> problems;
};

TransferPeer::TransferPeer(DeviceSimulator::Connection& media, std::filesystem::path folder, Pace pace,
                           std::function<void()> onChange)
    : state_(std::make_shared<State>(media, std::move(folder), pace, std::move(onChange))) {
    media.channel->setEvents({
        .ready = state_->log.ready,
        .packet = [state = state_](WirePacket packet) { state->received(std::move(packet)); },
        .closed = state_->log.closed,
    });
    media.channel->setPacketSource([state = state_] { return state->next(); });
}

TransferPeer::~TransferPeer() {
    {
        std::lock_guard guard(state_->callbackLock);
        state_->onChange = nullptr;
    }
    releaseReceiving();
    if (const auto channel = state_->channel.lock()) {
        channel->setPacketSource(nullptr);
        channel->setEvents(state_->log);
    }
}

TransferOffer TransferPeer::State::queue(Sending sending, const TransferPeer::Offer& offer) {
    sending.chunkSize = offer.chunkSize;
    sending.pauseAt = offer.pauseAt;
    TransferOffer made;
    {
        std::lock_guard guard(lock);
        if (sending.record.offer.id == 0) sending.record.offer.id = nextID++;
        made = sending.record.offer;
        order.push_back(made.id);
        sendings.insert_or_assign(made.id, std::move(sending));
    }
    resumeChannel();
    return made;
}

TransferOffer TransferPeer::sendFile(const std::filesystem::path& file, Offer offer) {
    auto stream = std::make_unique<std::ifstream>(file, std::ios::binary);
    if (!*stream) throw std::system_error(errno, std::generic_category(), "cannot read " + file.string());
    const std::uint64_t size = std::filesystem::file_size(file);
    if (offer.name.empty()) offer.name = file.filename().string();

    State::Sending sending;
    sending.file = std::move(stream);
    sending.record.offer = {offer.id, offer.purpose, offer.name, offer.contentType, size};
    return state_->queue(std::move(sending), offer);
}

TransferOffer TransferPeer::sendBytes(Bytes bytes, Offer offer) {
    State::Sending sending;
    sending.record.offer = {offer.id, offer.purpose, offer.name, offer.contentType, bytes.size()};
    sending.bytes = std::move(bytes);
    return state_->queue(std::move(sending), offer);
}

void TransferPeer::resume(std::uint32_t id) {
    {
        std::lock_guard guard(state_->lock);
        const auto found = state_->sendings.find(id);
        if (found == state_->sendings.end() || found->second.isOver()) return;
        found->second.pauseAt.reset();
        if (found->second.record.state == Outgoing::State::paused)
            found->second.record.state = Outgoing::State::sending;
    }
    state_->resumeChannel();
}

void TransferPeer::cancel(std::uint32_t id, Reason reason) {
    {
        std::lock_guard guard(state_->lock);
        const auto found = state_->sendings.find(id);
        if (found == state_->sendings.end() || found->second.isOver()) return;
        State::Sending& sending = found->second;
        sending.record.state = Outgoing::State::cancelled;
        sending.record.reason = reason;
        sending.record.videoFramesDuring = state_->videoFrames - sending.videoAtStart;
        std::erase(state_->order, id);
        // The Mac never heard of a transfer whose offer did not go out.
        if (sending.offerSent) state_->urgent.push_back(TransferMessage::cancel(id, reason));
    }
    state_->resumeChannel();
    state_->changed();
}

void TransferPeer::holdReceivingAt(std::uint64_t bytes, std::chrono::milliseconds limit) {
    std::lock_guard guard(state_->lock);
    state_->holdAt = bytes;
    state_->holdLimit = limit;
}

void TransferPeer::releaseReceiving() {
    {
        std::lock_guard guard(state_->lock);
        state_->holdAt.reset();
        state_->holding = false;
    }
    state_->holdReleased.notify_all();
}

bool TransferPeer::isHoldingReceiving() const {
    std::lock_guard guard(state_->lock);
    return state_->holding;
}

std::optional<TransferPeer::Outgoing> TransferPeer::outgoing(std::uint32_t id) const {
    std::lock_guard guard(state_->lock);
    const auto found = state_->sendings.find(id);
    if (found == state_->sendings.end()) return std::nullopt;
    Outgoing record = found->second.record;
    if (!found->second.isOver() && found->second.offerSent) {
        record.videoFramesDuring = state_->videoFrames - found->second.videoAtStart;
    }
    return record;
}

std::optional<TransferPeer::Incoming> TransferPeer::incoming(std::uint32_t id) const {
    std::lock_guard guard(state_->lock);
    const auto found = state_->receivings.find(id);
    if (found == state_->receivings.end()) return std::nullopt;
    Incoming record = found->second.record;
    if (record.state == Incoming::State::receiving) {
        record.videoFramesDuring = state_->videoFrames - found->second.videoAtStart;
    }
    return record;
}

std::vector<TransferPeer::Incoming> TransferPeer::incomings() const {
    std::vector<std::uint32_t> ids;
    {
        std::lock_guard guard(state_->lock);
        for (const auto& [id, receiving] : state_->receivings) ids.push_back(id);
    }
    std::vector<Incoming> records;
    for (const std::uint32_t id : ids) {
        if (auto record = incoming(id)) records.push_back(std::move(*record));
    }
    return records;
}

std::uint64_t TransferPeer::videoFrames() const {
    std::lock_guard guard(state_->lock);
    return state_->videoFrames;
}

std::vector<std::string> TransferPeer::problems() const {
    std::lock_guard guard(state_->lock);
    return state_->problems;
}

// Sending, on the channel's queue.

TransferPeer::State::Sending* TransferPeer::State::current() {
    if (order.empty()) return nullptr;
    Sending& sending = sendings.at(order.front());
    return sending.atPause() ? nullptr : &sending;
}

std::optional<WirePacket> TransferPeer::State::next() {
    std::optional<WirePacket> packet;
    {
        std::unique_lock guard(lock);
        Sending* sending = urgent.empty() ? current() : nullptr;
        if (urgent.empty() && !sending) return std::nullopt;
        const auto now = Clock::now();
        if (!bucket.take(now)) {
            scheduleResume(bucket.untilNext(now));
            return std::nullopt;
        }
        if (!urgent.empty()) {
            packet = urgent.front().packet();
            urgent.pop_front();
        } else {
            packet = produce(*sending);
            // Whoever sees this packet arrive sees the pause.
            if (sending->atPause()) sending->record.state = Outgoing::State::paused;
        }
    }
    changed();
    return packet;
}

WirePacket TransferPeer::State::produce(Sending& sending) {
    Outgoing& record = sending.record;
    const std::uint32_t id = record.offer.id;
    if (!sending.offerSent) {
        sending.offerSent = true;
        sending.videoAtStart = videoFrames;
        record.state = Outgoing::State::sending;
        return TransferMessage::offer(record.offer).packet();
    }
    const auto end = [&](Outgoing::State state, std::optional<Reason> reason) {
        record.state = state;
        record.reason = reason;
        record.videoFramesDuring = videoFrames - sending.videoAtStart;
        sending.file.reset();
        order.pop_front();
    };
    const std::uint64_t left = record.offer.size - record.sentBytes;
    if (left == 0) {
        const auto digest = sending.digest.digest();
        end(Outgoing::State::finished, std::nullopt);
        return TransferMessage::finish(id, Bytes(digest.begin(), digest.end())).packet();
    }

    Bytes data(static_cast<std::size_t>(std::min<std::uint64_t>(sending.chunkSize, left)));
    if (sending.file) {
        sending.file->read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
        if (static_cast<std::size_t>(sending.file->gcount()) != data.size()) {
            problems.push_back("the file of transfer " + std::to_string(id) + " ended early");
            end(Outgoing::State::cancelled, Reason::failed);
            return TransferMessage::cancel(id, Reason::failed).packet();
        }
    } else {
        const auto from = sending.bytes.begin() + static_cast<std::ptrdiff_t>(record.sentBytes);
        std::copy(from, from + static_cast<std::ptrdiff_t>(data.size()), data.begin());
    }
    sending.digest.update(data);
    const std::uint64_t offset = record.sentBytes;
    record.sentBytes += data.size();
    return TransferMessage::chunk(id, offset, std::move(data)).packet();
}

void TransferPeer::State::scheduleResume(Clock::duration delay) {
    if (resumeScheduled) return;
    const auto live = channel.lock();
    if (!live) return;
    resumeScheduled = true;
    auto timer = std::make_shared<asio::steady_timer>(live->queue().executor(), delay);
    // The timer lives in its own handler; the channel and this state are held weakly.
    timer->async_wait([timer, weakChannel = channel, weakState = weak_from_this()](std::error_code) {
        const auto state = weakState.lock();
        const auto resumed = weakChannel.lock();
        if (!state || !resumed) return;
        {
            std::lock_guard guard(state->lock);
            state->resumeScheduled = false;
        }
        resumed->resumeSending();
    });
}

void TransferPeer::State::resumeChannel() const {
    if (const auto live = channel.lock()) live->resumeSending();
}

// Receiving, on the channel's queue.

void TransferPeer::State::received(WirePacket packet) {
    if (packet.kind() == WirePacket::Kind::videoFrame) {
        {
            std::lock_guard guard(lock);
            ++videoFrames;
        }
        return changed();
    }
    if (packet.kind() != WirePacket::Kind::transfer) {
        if (log.packet) log.packet(std::move(packet));
        return;
    }
    std::optional<TransferMessage> message;
    try {
        message = TransferMessage::decode(packet);
    } catch (const std::exception& error) {
        std::lock_guard guard(lock);
        problems.push_back(std::string("an undecodable transfer message: ") + error.what());
        return;
    }
    {
        std::unique_lock guard(lock);
        std::visit([this](const auto& value) { handle(value); }, message->value);
        stallIfHeld(guard);
    }
    changed();
}

void TransferPeer::State::handle(const TransferMessage::Offer& message) {
    const std::uint32_t id = message.offer.id;
    if (const auto earlier = receivings.find(id); earlier != receivings.end()) {
        if (earlier->second.record.state == Incoming::State::receiving)
            fail(earlier->second, "replaced by a new offer");
        receivings.erase(earlier);
    }
    Receiving receiving;
    receiving.record.offer = message.offer;
    receiving.record.file = folder / std::to_string(id);
    receiving.file = std::make_unique<std::ofstream>(receiving.record.file, std::ios::binary | std::ios::trunc);
    receiving.videoAtStart = videoFrames;
    const bool opened = static_cast<bool>(*receiving.file);
    auto& stored = receivings.insert_or_assign(id, std::move(receiving)).first->second;
    if (!opened) fail(stored, "could not create " + stored.record.file.string());
}

void TransferPeer::State::handle(const TransferMessage::Chunk& message) {
    const auto found = receivings.find(message.id);
    if (found == receivings.end() || found->second.record.state != Incoming::State::receiving) {
        problems.push_back("a chunk of transfer " + std::to_string(message.id) + ", which is not running");
        return;
    }
    Receiving& receiving = found->second;
    Incoming& record = receiving.record;
    if (message.offset != record.receivedBytes) {
        return fail(receiving, "a chunk at " + std::to_string(message.offset) + " where " +
                                   std::to_string(record.receivedBytes) + " was due");
    }
    if (message.data.size() > record.offer.size - record.receivedBytes) {
        return fail(receiving, "a chunk past the offered size");
    }
    receiving.file->write(reinterpret_cast<const char*>(message.data.data()),
                          static_cast<std::streamsize>(message.data.size()));
    if (!*receiving.file) return fail(receiving, "could not write " + record.file.string());
    receiving.digest.update(message.data);
    record.receivedBytes += message.data.size();
}

void TransferPeer::State::handle(const TransferMessage::Finish& message) {
    const auto found = receivings.find(message.id);
    if (found == receivings.end() || found->second.record.state != Incoming::State::receiving) {
        problems.push_back("the finish of transfer " + std::to_string(message.id) + ", which is not running");
        return;
    }
    Receiving& receiving = found->second;
    Incoming& record = receiving.record;
    if (record.receivedBytes != record.offer.size) {
        return fail(receiving, "finished after " + std::to_string(record.receivedBytes) + " of " +
                                   std::to_string(record.offer.size) + " bytes");
    }
    const auto digest = receiving.digest.digest();
    if (message.digest != Bytes(digest.begin(), digest.end())) {
        return fail(receiving, "the digest " + TessaloyCore::hexString(message.digest) + " is not the bytes' " +
                                   TessaloyCore::hexString(digest));
    }
    receiving.file->close();
    if (!*receiving.file) return fail(receiving, "could not close " + record.file.string());
    record.state = Incoming::State::complete;
    end(receiving);
}

void TransferPeer::State::handle(const TransferMessage::Cancel& message) {
    if (const auto found = receivings.find(message.id);
        found != receivings.end() && found->second.record.state == Incoming::State::receiving) {
        Receiving& receiving = found->second;
        receiving.record.state = Incoming::State::cancelled;
        receiving.record.reason = message.reason;
        receiving.file.reset();
        deleteQuietly(receiving.record.file);
        return end(receiving);
    }
    if (const auto found = sendings.find(message.id); found != sendings.end()) {
        Sending& sending = found->second;
        // Crossed the peer's own cancel.
        if (sending.record.state == Outgoing::State::cancelled) return;
        // A finished transfer may still be refused: the Mac did not keep it.
        if (!sending.isOver()) sending.record.videoFramesDuring = videoFrames - sending.videoAtStart;
        sending.record.state = Outgoing::State::refused;
        sending.record.reason = message.reason;
        sending.file.reset();
        std::erase(order, message.id);
        return;
    }
    problems.push_back("a cancel (" + std::string(TessaloyCore::nameOf(message.reason)) + ") of transfer " +
                       std::to_string(message.id) + ", which is not running");
}

void TransferPeer::State::fail(Receiving& receiving, std::string problem) {
    receiving.record.state = Incoming::State::failed;
    receiving.record.problem = std::move(problem);
    receiving.file.reset();
    deleteQuietly(receiving.record.file);
    end(receiving);
}

void TransferPeer::State::end(Receiving& receiving) {
    receiving.record.videoFramesDuring = videoFrames - receiving.videoAtStart;
}

void TransferPeer::State::stallIfHeld(std::unique_lock<std::mutex>& guard) {
    if (!holdAt) return;
    const bool reached = std::any_of(receivings.begin(), receivings.end(), [&](const auto& entry) {
        return entry.second.record.state == Incoming::State::receiving && entry.second.record.receivedBytes >= *holdAt;
    });
    if (!reached) return;
    holdAt.reset();
    holding = true;
    guard.unlock();
    changed();
    guard.lock();
    // Nothing is read meanwhile: the Mac's writes back up behind this one.
    holdReleased.wait_for(guard, holdLimit, [this] { return !holding; });
    holding = false;
}

void TransferPeer::State::changed() {
    std::lock_guard guard(callbackLock);
    if (onChange) onChange();
}

} // namespace Testing
