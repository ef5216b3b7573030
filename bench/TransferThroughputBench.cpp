// File transfers over loopback TLS 1.3, next to the bare channel carrying packets of the same sizes
// in the same run, for chunks of 65,536 bytes (what the Mac sends) and 262,144 bytes (the largest
// the protocol allows); video idle:
//  - Mac to device: a 256 MiB file read by FileTransferSource through OutgoingTransfer, the
//    TransferOutbox and a VideoSender pulled by the Mac's channel; on a thread of its own, as a phone
//    verifies off its network thread, the device decodes each message, checks its offset, hashes
//    the bytes and checks the digest at the finish. It keeps nothing: what a phone's storage costs
//    is not the Mac's to measure.
//  - Device to Mac: the device sends the file as the phone does, reading and hashing ahead of its
//    network thread (through a TransferOutbox); the Mac's channel hands each packet to a thread
//    standing for the main actor (one hop per packet, as the controller's), which decodes it into a
//    TransferInbox; its worker queue writes the private work file and flushes it at the finish,
//    and its hashing queue hashes each chunk beside it, as the application's do.
//  - Raw: the same number of packets of the same payload size through the same pair of channels,
//    prepared beforehand and dropped on arrival.
//  - Memory: the peak growth of resident memory while the Mac sends a sparse 1 GiB file, which
//    should stay flat whatever the file's size. It runs first, before the others have grown the
//    process.
// Both channels' receive budgets are lifted: the Mac's budget (240 packets a second, bursts of
// 720) caps a device's sending at 240 chunks a second, about 15.7 MB/s with 64 KiB chunks and
// 63 MB/s with 256 KiB ones; these figures measure the pipeline itself.
#include "base/SerialQueue.h"
#include "bench/TransferWorkspace.h"
#include "core/OutgoingTransfer.h"
#include "core/Sha256.h"
#include "core/TransferMessage.h"
#include "core/WirePacket.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairingKeys.h"
#include "net/channel/TlsPacketChannel.h"
#include "net/send/VideoSendQueue.h"
#include "net/send/VideoSender.h"
#include "net/transfer/FileTransferSource.h"
#include "net/transfer/TransferInbox.h"
#include "net/transfer/TransferOutbox.h"

#include <benchmark/benchmark.h>
#include <asio/ip/tcp.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

using namespace TessaloyNet;
using TessaloyCore::Bytes;
using TessaloyCore::TransferMessage;
using TessaloyCore::TransferOffer;
using TessaloyCore::TransferPurpose;
using TessaloyCore::WirePacket;

namespace {

constexpr std::uint64_t mebibyte = 1024 * 1024;
constexpr std::uint64_t volume = Bench::TransferWorkspace::sourceSize;
constexpr std::uint64_t sparseVolume = 1024 * mebibyte;

const PairingKeys& keys() {
    static const PairingKeys derived = PairingKeys::derive(*PairingCode::parse("ABCD-EFGH"), Bytes(16, 0x42));
    return derived;
}

// The Mac's end (accepted) and the device's end (connecting) of one loopback connection.
struct Joined {
    std::shared_ptr<TlsPacketChannel> mac;
    std::shared_ptr<TlsPacketChannel> device;

    ~Joined() {
        if (device) device->close();
        if (mac) mac->close();
    }
};

// Each `on...Packet` runs on that end's channel queue.
std::unique_ptr<Joined> join(std::function<void(WirePacket)> onMacPacket,
                             std::function<void(WirePacket)> onDevicePacket) {
    asio::ip::tcp::acceptor acceptor(TessaloyBase::sharedIoContext(),
                                     asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    TlsPacketChannel::Options options;
    options.readTimeout = std::chrono::minutes(10);
    options.receiveBudget = {.packetsPerSecond = 1e9, .burstPackets = 1e9};
    auto macReady = std::make_shared<std::promise<void>>();
    auto deviceReady = std::make_shared<std::promise<void>>();
    auto joined = std::make_unique<Joined>();
    joined->device = TlsPacketChannel::connecting(acceptor.local_endpoint(),
                                                  LANTransport::pairingClientParameters(keys(), "Phone"), options);
    joined->device->setEvents(
        {.ready = [deviceReady] { deviceReady->set_value(); }, .packet = std::move(onDevicePacket), .closed = nullptr});
    joined->device->start();
    joined->mac = TlsPacketChannel::accepted(acceptor.accept(),
                                             LANTransport::pairingServerParameters(keys(), "Mac", nullptr), options);
    joined->mac->setEvents(
        {.ready = [macReady] { macReady->set_value(); }, .packet = std::move(onMacPacket), .closed = nullptr});
    joined->mac->start();
    macReady->get_future().wait();
    deviceReady->get_future().wait();
    return joined;
}

// The payload size of a chunk message carrying `chunkSize` bytes.
std::size_t chunkPayloadSize(std::size_t chunkSize) {
    return TransferMessage::chunk(1, 0, Bytes(chunkSize)).packet().payload().size();
}

// Signals once when told, and waits for it.
class Done {
public:
    void signal(bool success) {
        {
            std::lock_guard guard(lock_);
            done_ = true;
            success_ = success;
        }
        changed_.notify_all();
    }
    bool wait() {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [this] { return done_; });
        done_ = false;
        return success_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool done_ = false;
    bool success_ = false;
};

// Resident memory of this process in bytes, now or at its peak, from /proc/self/status.
std::uint64_t statusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1)) * 1024;
    }
    return 0;
}

// Starts the peak over from the current resident memory.
bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// Runs posted work in order on its own thread: the main actor, or a device's verifier. With a limit,
// post() waits while that much work is queued.
class SerialThread {
public:
    explicit SerialThread(std::size_t limit = SIZE_MAX) : limit_(limit), thread_([this] { run(); }) {}
    ~SerialThread() {
        post(nullptr);
        thread_.join();
    }
    void post(std::function<void()> work) {
        {
            std::unique_lock guard(lock_);
            taken_.wait(guard, [this] { return queue_.size() < limit_; });
            queue_.push_back(std::move(work));
        }
        posted_.notify_one();
    }

private:
    void run() {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock guard(lock_);
                posted_.wait(guard, [this] { return !queue_.empty(); });
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            taken_.notify_one();
            if (!work) return;
            work();
        }
    }

    std::mutex lock_;
    std::condition_variable posted_;
    std::condition_variable taken_;
    std::deque<std::function<void()>> queue_;
    const std::size_t limit_;
    std::thread thread_;
};

// The device's side of a Mac's transfer, off its channel queue as a phone verifies off its network
// thread: on a thread of its own, each message decoded, every offset checked, the bytes hashed and
// the finish compared with the digest.
class DeviceReceiver {
public:
    void take(WirePacket packet) {
        if (packet.kind() != WirePacket::Kind::transfer) return;
        verifier_.post([this, packet = std::move(packet)] { verify(TransferMessage::decode(packet)); });
    }

    Done done;

private:
    void verify(const TransferMessage& message) {
        if (const auto* offer = std::get_if<TransferMessage::Offer>(&message.value)) {
            size_ = offer->offer.size;
            received_ = 0;
            digest_ = TessaloyCore::Sha256();
        } else if (const auto* chunk = std::get_if<TransferMessage::Chunk>(&message.value)) {
            if (chunk->offset != received_) return done.signal(false);
            digest_.update(chunk->data);
            received_ += chunk->data.size();
        } else if (const auto* finish = std::get_if<TransferMessage::Finish>(&message.value)) {
            const auto digest = digest_.digest();
            done.signal(received_ == size_ && finish->digest == Bytes(digest.begin(), digest.end()));
        } else {
            done.signal(false);
        }
    }

    std::uint64_t size_ = 0;
    std::uint64_t received_ = 0;
    TessaloyCore::Sha256 digest_;
    // Last, so that it stops before the rest goes. A few messages in hand, as a phone's pipeline.
    SerialThread verifier_{4};
};

std::unique_ptr<TessaloyCore::OutgoingTransfer> transferOf(const std::filesystem::path& file, std::size_t chunkSize) {
    auto source = std::make_unique<TessaloyNet::FileTransferSource>(file);
    const TransferOffer offer{7, TransferPurpose::file, file.filename().string(), "public.data", source->size()};
    return std::make_unique<TessaloyCore::OutgoingTransfer>(offer, std::move(source), chunkSize);
}

void setThroughput(benchmark::State& state, std::uint64_t bytesPerIteration, std::size_t chunkSize) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesPerIteration));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * (bytesPerIteration / chunkSize)));
}

// The bare channel: as many packets of the chunk messages' payload size, dropped on arrival.
void rawChannel(benchmark::State& state, bool fromMac) {
    const auto chunkSize = static_cast<std::size_t>(state.range(0));
    const std::size_t count = volume / chunkSize;
    const std::size_t payloadSize = chunkPayloadSize(chunkSize);
    std::atomic<std::size_t> received = 0;
    Done done;
    const auto count1 = [&](WirePacket) {
        if (++received == count) done.signal(true);
    };
    const auto joined = fromMac ? join(nullptr, count1) : join(count1, nullptr);
    TlsPacketChannel& sender = fromMac ? *joined->mac : *joined->device;
    for (auto _ : state) {
        state.PauseTiming();
        auto packets = std::make_shared<std::vector<WirePacket>>();
        packets->reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            packets->emplace_back(WirePacket::Kind::transfer, Bytes(payloadSize, 7));
        received = 0;
        state.ResumeTiming();
        sender.setPacketSource([packets, next = std::size_t(0)]() mutable -> std::optional<WirePacket> {
            if (next == packets->size()) return std::nullopt;
            return std::move((*packets)[next++]);
        });
        done.wait();
    }
    setThroughput(state, volume, chunkSize);
}

void BM_RawMacToDevice(benchmark::State& state) { rawChannel(state, true); }
void BM_RawDeviceToMac(benchmark::State& state) { rawChannel(state, false); }

void BM_FileMacToDevice(benchmark::State& state) {
    const auto chunkSize = static_cast<std::size_t>(state.range(0));
    DeviceReceiver receiver;
    const auto joined = join(nullptr, [&](WirePacket packet) { receiver.take(std::move(packet)); });
    const auto sender = std::make_shared<VideoSender>(
        joined->mac, std::make_shared<VideoSendQueue>(16, static_cast<std::size_t>(8 * mebibyte)));
    sender->attach();
    for (auto _ : state) {
        sender->transfers().enqueue(transferOf(Bench::TransferWorkspace::shared().source(), chunkSize));
        if (!receiver.done.wait()) state.SkipWithError("the device did not receive the file intact");
    }
    setThroughput(state, volume, chunkSize);
    sender->stop();
}

void BM_FileDeviceToMac(benchmark::State& state) {
    const auto chunkSize = static_cast<std::size_t>(state.range(0));
    Done done;
    // Only the actor thread touches the inbox, as only the main actor does in the application.
    auto actor = std::make_unique<SerialThread>();
    auto inbox = std::make_shared<TransferInbox>(Bench::TransferWorkspace::shared().folder() / "TessaloyIncoming");
    TessaloyBase::SerialQueue worker("dev.tessaloy.transfers.receive");
    TessaloyBase::SerialQueue hasher("dev.tessaloy.transfers.hash");
    inbox->runOnWorker = [&worker](std::function<void()> work) { worker.async(std::move(work)); };
    inbox->runOnHasher = [&hasher](std::function<void()> work) { hasher.async(std::move(work)); };
    inbox->runOnOwner = [&owner = *actor](std::function<void()> work) { owner.post(std::move(work)); };
    // The application keeps what it receives; the work file is deleted outside the timing, as that
    // costs as much as a tenth of a transfer.
    std::filesystem::path received;
    inbox->onComplete = [&](const TransferOffer&, const std::filesystem::path& file) {
        received = file;
        done.signal(true);
    };
    inbox->onFailed = [&](const TransferOffer&, TessaloyCore::TransferCancelReason) { done.signal(false); };
    const auto joined = join(
        [&actor = *actor, inbox](WirePacket packet) {
            actor.post([inbox, packet = std::move(packet)] { inbox->handle(TransferMessage::decode(packet)); });
        },
        nullptr);
    // The device reads and hashes ahead of its network thread, as a phone does.
    const auto outbox = std::make_shared<TransferOutbox>();
    outbox->onWork = [device = std::weak_ptr<TlsPacketChannel>(joined->device)] {
        if (const auto live = device.lock()) live->resumeSending();
    };
    joined->device->setPacketSource([outbox] { return outbox->nextPacket(); });
    for (auto _ : state) {
        outbox->enqueue(transferOf(Bench::TransferWorkspace::shared().source(), chunkSize));
        const bool intact = done.wait();
        state.PauseTiming();
        if (intact) std::filesystem::remove(received);
        state.ResumeTiming();
        if (!intact) state.SkipWithError("the Mac did not receive the file intact");
    }
    setThroughput(state, volume, chunkSize);
}

// One pass: the peak growth of resident memory while a sparse 1 GiB file goes from the Mac to a
// device that only hashes it.
void BM_SparseGibibyteMacToDeviceMemory(benchmark::State& state) {
    const std::filesystem::path sparse = Bench::TransferWorkspace::shared().makeSparse(sparseVolume);
    DeviceReceiver receiver;
    const auto joined = join(nullptr, [&](WirePacket packet) { receiver.take(std::move(packet)); });
    const auto sender = std::make_shared<VideoSender>(
        joined->mac, std::make_shared<VideoSendQueue>(16, static_cast<std::size_t>(8 * mebibyte)));
    sender->attach();
    std::uint64_t before = 0;
    std::uint64_t peak = 0;
    for (auto _ : state) {
        if (!resetPeak()) state.SkipWithError("/proc/self/clear_refs cannot reset the peak");
        before = statusBytes("VmRSS");
        sender->transfers().enqueue(transferOf(sparse, 65'536));
        if (!receiver.done.wait()) state.SkipWithError("the device did not receive the file intact");
        peak = statusBytes("VmHWM");
    }
    setThroughput(state, sparseVolume, 65'536);
    state.counters["rssBeforeMiB"] = static_cast<double>(before) / mebibyte;
    state.counters["peakRssGrowthMiB"] = static_cast<double>(peak > before ? peak - before : 0) / mebibyte;
    sender->stop();
    std::filesystem::remove(sparse);
}

void chunkSizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(65'536)->Arg(262'144)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
}

BENCHMARK(BM_SparseGibibyteMacToDeviceMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
// Each transfer next to the bare channel in the same direction.
BENCHMARK(BM_RawMacToDevice)->Apply(chunkSizes);
BENCHMARK(BM_FileMacToDevice)->Apply(chunkSizes);
BENCHMARK(BM_RawDeviceToMac)->Apply(chunkSizes);
BENCHMARK(BM_FileDeviceToMac)->Apply(chunkSizes);

} // namespace

BENCHMARK_MAIN();
