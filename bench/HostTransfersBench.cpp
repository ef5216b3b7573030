// File transfer throughput through HostTransfers on this machine, with the real outbox, inbox and
// media sender on an in-process channel:
//  - Mac to device: a 256 MiB file from send() to the device side: read and hashed chunk by chunk on
//    the channel's queue, encoded, framed, decoded by the device's WireDecoder and hashed again, with
//    the progress reports run on the main actor;
//  - device to Mac: the same volume as a wire stream cut into 16 KiB reads, decoded, handed to
//    handle(), written to the private work file, verified and moved into Downloads/Plovander;
//  - detach while the disk works: a 256 MiB file from the device arrives as fast as handle() takes
//    it (its 99th percentile and longest call, in ms), and its queues still write, flush and save it
//    when the session ends: the time detach() takes on the main actor; on this machine's disk, and on
//    one whose writes are held to 100 MB/s;
//  - the main actor during a 1 GiB device to Mac transfer: the transfer's messages reach a main
//    actor of real time as the session routes them, while a probe posts a no-op every millisecond
//    and times its wait to run (p50, p99 and the longest, in ms), and samples the resident set
//    (its growth over the transfer, which stays flat).
#include "app/transfers/HostTransfers.h"
#include "base/MainActor.h"
#include "base/SerialQueue.h"
#include "bench/Measures.h"
#include "bench/QueueActor.h"
#include "bench/TransferWorkspace.h"
#include "core/Sha256.h"
#include "core/TransferMessage.h"
#include "core/WireDecoder.h"
#include "net/channel/PacketChannel.h"
#include "net/send/VideoSendQueue.h"
#include "net/send/VideoSender.h"
#include "net/transfer/TransferInbox.h"
#include "platform/Pasteboard.h"
#include "platform/linux/XdgTransferFiles.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <future>
#include <mutex>
#include <semaphore>
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

    // Runs posted work until none is left; returns how much ran.
    std::size_t drain() {
        std::size_t ran = 0;
        for (;;) {
            std::deque<std::function<void()>> work;
            {
                std::lock_guard guard(lock_);
                work.swap(work_);
            }
            if (work.empty()) return ran;
            for (auto& item : work) item();
            ran += work.size();
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
    void pauseReading(bool paused) override {
        {
            std::lock_guard guard(pauseLock_);
            paused_ = paused;
        }
        resumed_.notify_all();
    }
    void close(std::optional<std::string>) override {}

    // Waits while reading is paused, as the device's messages would.
    void waitWhilePaused() {
        std::unique_lock guard(pauseLock_);
        resumed_.wait(guard, [&] { return !paused_; });
    }
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
    std::mutex pauseLock_;
    std::condition_variable resumed_;
    bool paused_ = false;
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
        // The received files' queues write and check; what they hand back runs on the actor.
        do {
            session.transfers.waitForReceiving();
        } while (session.actor.drain() > 0);
        state.PauseTiming();
        const auto saved = session.transfers.lastReceived();
        const bool whole = saved && std::filesystem::file_size(*saved) == volume;
        if (saved) std::filesystem::remove(*saved);
        state.ResumeTiming();
        if (!whole) state.SkipWithError("the file was not saved");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * volume));
}
BENCHMARK(deviceToMac)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void detachWhileTheDiskWorks(benchmark::State& state) {
    Bench::TransferWorkspace::shared();
    const Bytes chunk = chunkPattern();
    Sha256 running;
    for (std::uint64_t offset = 0; offset < volume; offset += chunkSize) running.update(chunk);
    const auto digest = running.digest();
    Session session;
    std::vector<double> handleMilliseconds;
    const auto bytesPerSecond = static_cast<double>(state.range(0)) * 1e6;
    for (auto _ : state) {
        session.transfers.attach(session.sender);
        if (bytesPerSecond > 0) {
            session.transfers.inbox()->fileCalls.write = [bytesPerSecond](int descriptor, const std::uint8_t* data,
                                                                          std::size_t count) -> long {
                std::this_thread::sleep_for(std::chrono::duration<double>(static_cast<double>(count) / bytesPerSecond));
                return ::write(descriptor, data, count);
            };
        }
        session.transfers.handle(TransferMessage::offer({8, TransferPurpose::file, "detached.bin", "", volume}));
        for (std::uint64_t offset = 0; offset < volume; offset += chunkSize) {
            // Made before the clock starts, as the channel's queue decodes it.
            TransferMessage message = TransferMessage::chunk(8, offset, chunk);
            const auto start = std::chrono::steady_clock::now();
            session.transfers.handle(std::move(message));
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
            handleMilliseconds.push_back(took.count());
        }
        session.transfers.handle(TransferMessage::finish(8, Bytes(digest.begin(), digest.end())));
        const auto start = std::chrono::steady_clock::now();
        session.transfers.detach();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        // The file is still saved once the session has ended.
        do {
            session.transfers.waitForReceiving();
        } while (session.actor.drain() > 0);
        if (const auto saved = session.transfers.lastReceived()) std::filesystem::remove(*saved);
    }
    state.counters["handle_p99_ms"] = Bench::percentile(handleMilliseconds, 0.99);
    state.counters["handle_max_ms"] = Bench::percentile(handleMilliseconds, 1.0);
}
BENCHMARK(detachWhileTheDiskWorks)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// Runs `work` on the actor and waits for it.
template <typename Work>
void onActor(Bench::QueueActor& actor, Work work) {
    std::promise<void> ran;
    actor.post([&] {
        work();
        ran.set_value();
    });
    ran.get_future().wait();
}

void mainActorDuringDeviceToMac(benchmark::State& state) {
    constexpr std::uint64_t size = 1ull << 30;
    const auto& workspace = Bench::TransferWorkspace::shared();
    Bench::QueueActor actor;
    auto channel = std::make_shared<LoopChannel>();
    auto sender = std::make_shared<TessaloyNet::VideoSender>(
        channel, std::make_shared<TessaloyNet::VideoSendQueue>(16, 8'388'608));
    std::unique_ptr<HostTransfers> transfers;
    onActor(actor, [&] {
        transfers = std::make_unique<HostTransfers>(
            actor, std::make_shared<NoPasteboard>(),
            std::make_shared<Platform::Linux::XdgTransferFiles>(workspace.folder() / "Downloads",
                                                                workspace.folder() / "cache" / "TessaloyIncoming"));
        transfers->isAllowed = [] { return true; };
        sender->attach();
        transfers->attach(sender);
    });
    const Bytes chunk = chunkPattern();
    std::vector<double> waits;
    const std::uint64_t residentBefore = Bench::residentBytes();
    std::uint64_t residentPeak = residentBefore;
    for (auto _ : state) {
        std::atomic<bool> done{false};
        std::thread probe([&] {
            while (!done) {
                residentPeak = std::max(residentPeak, Bench::residentBytes());
                const auto posted = std::chrono::steady_clock::now();
                onActor(actor, [&] {
                    const std::chrono::duration<double, std::milli> wait = std::chrono::steady_clock::now() - posted;
                    waits.push_back(wait.count());
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        // As many messages in flight as the channel's queue would hand over before it waits, and
        // none while the channel's reading is paused.
        std::counting_semaphore<> slots(16);
        const auto deliver = [&](TransferMessage message) {
            channel->waitWhilePaused();
            slots.acquire();
            actor.post([&, message = std::move(message)] {
                transfers->handle(message);
                slots.release();
            });
        };
        Sha256 running;
        deliver(TransferMessage::offer({9, TransferPurpose::file, "gibibyte.bin", "", size}));
        for (std::uint64_t offset = 0; offset < size; offset += chunkSize) {
            deliver(TransferMessage::chunk(9, offset, chunk));
            running.update(chunk);
        }
        const auto digest = running.digest();
        deliver(TransferMessage::finish(9, Bytes(digest.begin(), digest.end())));
        std::optional<std::filesystem::path> saved;
        while (!saved) {
            onActor(actor, [&] {
                if (transfers->active().empty()) saved = transfers->lastReceived().value_or("");
            });
        }
        done = true;
        probe.join();
        if (saved->empty() || std::filesystem::file_size(*saved) != size) state.SkipWithError("the file was not saved");
        if (!saved->empty()) std::filesystem::remove(*saved);
    }
    state.counters["wait_p50_ms"] = Bench::percentile(waits, 0.5);
    state.counters["wait_p99_ms"] = Bench::percentile(waits, 0.99);
    state.counters["wait_max_ms"] = Bench::percentile(waits, 1.0);
    state.counters["rss_growth_MiB"] = static_cast<double>(residentPeak - residentBefore) / (1 << 20);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    onActor(actor, [&] { transfers.reset(); });
}
BENCHMARK(mainActorDuringDeviceToMac)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
