// File transfer throughput through HostTransfers on this machine, with the real outbox, inbox and
// media sender on an in-process channel:
//  - Mac to device: a 256 MiB file from send() to the device side: read and hashed chunk by chunk on
//    the channel's queue, encoded, framed, decoded by the device's WireDecoder and hashed again, with
//    the progress reports run on the main actor;
//  - device to Mac: the same volume as a wire stream cut into 16 KiB reads, decoded, handed to
//    handle(), written to the private work file, verified and moved into Downloads/Plovander.
#include "app/transfers/HostTransfers.h"
#include "base/MainActor.h"
#include "base/SerialQueue.h"
#include "bench/TransferWorkspace.h"
#include "core/Sha256.h"
#include "core/TransferMessage.h"
#include "core/WireDecoder.h"
#include "net/channel/PacketChannel.h"
#include "net/send/VideoSendQueue.h"
#include "net/send/VideoSender.h"
#include "platform/Pasteboard.h"
#include "platform/linux/XdgTransferFiles.h"

#include <benchmark/benchmark.h>

#include <deque>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using namespace TessaloyCore;
using Plovander::HostTransfers;

constexpr std::uint64_t volume = Bench::TransferWorkspace::sourceSize;
constexpr std::size_t chunkSize = HostTransfers::chunkSize;
constexpr std::size_t readSize = 16 * 1024;

Bytes chunkPattern() {
    Bytes bytes(chunkSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 251);
    return bytes;
}

// The main actor of this thread: posted work waits until drain().
class BenchActor final : public TessaloyBase::MainActor {
public:
    void post(std::function<void()> work) override {
        std::lock_guard guard(lock_);
        work_.push_back(std::move(work));
    }
    TessaloyBase::ScheduledCall after(Duration, std::function<void()>) override {
        throw std::logic_error("no timers here");
    }
    Date now() const override { return std::chrono::system_clock::now(); }
    bool isCurrent() const override { return std::this_thread::get_id() == owner_; }

    void drain() {
        for (;;) {
            std::deque<std::function<void()>> work;
            {
                std::lock_guard guard(lock_);
                work.swap(work_);
            }
            if (work.empty()) return;
            for (auto& item : work) item();
        }
    }

private:
    std::mutex lock_;
    std::deque<std::function<void()>> work_;
    const std::thread::id owner_ = std::this_thread::get_id();
};

// A channel without a socket whose packets go, as bytes, straight into the device's decoder.
class LoopChannel final : public TessaloyNet::PacketChannel {
public:
    TessaloyBase::SerialQueue& queue() override { return queue_; }
    void setEvents(Events) override {}
    void setPacketSource(PacketSource source) override { source_ = std::move(source); }
    void resumeSending() override {}
    void sendDirect(WirePacket) override {}
    bool sendDroppable(WirePacket, int) override { return false; }
    void close(std::optional<std::string>) override {}
    std::optional<Bytes> peerPublicKey() const override { return std::nullopt; }
    TessaloyNet::LatencySamples latency() const override { return {}; }

    // On the channel's queue: up to `count` packets to the device. Returns whether the finish came.
    bool pull(std::size_t count) {
        return queue_.sync([&] {
            for (std::size_t i = 0; i < count; ++i) {
                std::optional<WirePacket> packet = source_ ? source_() : std::nullopt;
                if (!packet) return false;
                const Bytes wire = packet->encoded();
                bool finished = false;
                decoder_.feed(wire, [&](WirePacket received) {
                    const TransferMessage message = TransferMessage::decode(received);
                    if (const auto* chunk = std::get_if<TransferMessage::Chunk>(&message.value)) {
                        deviceDigest_.update(chunk->data);
                        deviceBytes_ += chunk->data.size();
                    } else if (std::holds_alternative<TransferMessage::Finish>(message.value)) {
                        finished = true;
                    }
                });
                if (finished) return true;
            }
            return false;
        });
    }

    std::uint64_t deviceBytes() const { return deviceBytes_; }

private:
    TessaloyBase::SerialQueue queue_{"dev.tessaloy.channel"};
    PacketSource source_;
    WireDecoder decoder_;
    Sha256 deviceDigest_;
    std::uint64_t deviceBytes_ = 0;
};

class NoPasteboard final : public Platform::Pasteboard {
public:
    void clearContents() override {}
    std::optional<std::string> string() const override { return std::nullopt; }
    void setString(std::string_view) override {}
    std::vector<std::string> types() const override { return {}; }
    std::vector<std::filesystem::path> fileURLs() const override { return {}; }
    std::optional<Bytes> pngImage() const override { return std::nullopt; }
    std::unique_ptr<Image> makeImage(ByteView) const override { return nullptr; }
    void writeImage(const Image&) override {}
    void setData(ByteView, std::string_view) override {}
};

// One attached session.
struct Session {
    BenchActor actor;
    std::shared_ptr<LoopChannel> channel = std::make_shared<LoopChannel>();
    std::shared_ptr<TessaloyNet::VideoSender> sender = std::make_shared<TessaloyNet::VideoSender>(
        channel, std::make_shared<TessaloyNet::VideoSendQueue>(16, 8'388'608));
    HostTransfers transfers{actor, std::make_shared<NoPasteboard>(),
                            std::make_shared<Platform::Linux::XdgTransferFiles>(
                                Bench::TransferWorkspace::shared().folder() / "Downloads",
                                Bench::TransferWorkspace::shared().folder() / "cache" / "TessaloyIncoming")};

    Session() {
        transfers.isAllowed = [] { return true; };
        sender->attach();
        transfers.attach(sender);
    }

    // Sends the file whole, running the main actor between batches as its thread would.
    bool sendWhole(const std::filesystem::path& file) {
        transfers.send(file);
        bool finished = false;
        while (!finished) {
            finished = channel->pull(64);
            actor.drain();
            if (!finished && transfers.active().empty()) return false;
        }
        return !transfers.finished().empty() &&
               transfers.finished().front().outcome == HostTransfers::Finished::Outcome::done();
    }
};

void macToDevice(benchmark::State& state) {
    Bench::TransferWorkspace::shared();
    Session session;
    for (auto _ : state) {
        if (!session.sendWhole(Bench::TransferWorkspace::shared().source()))
            state.SkipWithError("the transfer did not finish");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * volume));
}
BENCHMARK(macToDevice)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void deviceToMac(benchmark::State& state) {
    Bench::TransferWorkspace::shared();
    // The device's side of the wire, made once: offer, chunks, finish.
    const Bytes chunk = chunkPattern();
    Sha256 running;
    Bytes stream = TransferMessage::offer({7, TransferPurpose::file, "received.bin", "", volume}).packet().encoded();
    stream.reserve(volume + volume / chunkSize * 32 + 1024);
    for (std::uint64_t offset = 0; offset < volume; offset += chunkSize) {
        const Bytes wire = TransferMessage::chunk(7, offset, chunk).packet().encoded();
        stream.insert(stream.end(), wire.begin(), wire.end());
        running.update(chunk);
    }
    const auto digest = running.digest();
    const Bytes finish = TransferMessage::finish(7, Bytes(digest.begin(), digest.end())).packet().encoded();
    stream.insert(stream.end(), finish.begin(), finish.end());

    Session session;
    for (auto _ : state) {
        WireDecoder decoder;
        const ByteView all(stream);
        for (std::size_t at = 0; at < all.size(); at += readSize) {
            decoder.feed(all.subspan(at, std::min(readSize, all.size() - at)),
                         [&](WirePacket packet) { session.transfers.handle(TransferMessage::decode(packet)); });
        }
        state.PauseTiming();
        const auto saved = session.transfers.lastReceived();
        if (!saved || std::filesystem::file_size(*saved) != volume) state.SkipWithError("the file was not saved");
        if (saved) std::filesystem::remove(*saved);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * volume));
}
BENCHMARK(deviceToMac)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
