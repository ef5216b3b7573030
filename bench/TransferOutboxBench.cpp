// Transfer throughput on this machine: a 256 MiB file through TransferOutbox::nextPacket() in
// 65,536-byte chunks (read, SHA-256, encode, frame), the same volume through TransferInbox (write
// to a private work file, SHA-256, fsync at the finish), and both joined through the wire decoder.
#include "bench/TransferWorkspace.h"
#include "core/OutgoingTransfer.h"
#include "core/Sha256.h"
#include "core/TransferMessage.h"
#include "net/transfer/FileTransferSource.h"
#include "net/transfer/TransferInbox.h"
#include "net/transfer/TransferOutbox.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

using namespace TessaloyCore;

constexpr std::uint64_t volume = Bench::TransferWorkspace::sourceSize;
constexpr std::size_t chunkSize = 65'536;

Bytes chunkPattern() {
    Bytes bytes(chunkSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 251);
    return bytes;
}

std::unique_ptr<OutgoingTransfer> fileTransfer() {
    auto source = std::make_unique<TessaloyNet::FileTransferSource>(Bench::TransferWorkspace::shared().source());
    const TransferOffer offer{1, TransferPurpose::file, "source.bin", "application/octet-stream", source->size()};
    return std::make_unique<OutgoingTransfer>(offer, std::move(source), chunkSize);
}

// Receives into the inbox; completed files are deleted at once, as the host moves them away.
struct Receiver {
    const std::shared_ptr<TessaloyNet::TransferInbox> owned =
        std::make_shared<TessaloyNet::TransferInbox>(Bench::TransferWorkspace::shared().folder() / "TessaloyIncoming");
    TessaloyNet::TransferInbox& inbox = *owned;
    bool complete = false;

    Receiver() {
        inbox.onComplete = [this](const TransferOffer&, const std::filesystem::path& file) {
            complete = true;
            std::filesystem::remove(file);
        };
    }
};

// Takes every packet of the outbox as the channel does: when the next one is still being read, it
// waits for onWork.
template <typename Take>
void pullAll(TessaloyNet::TransferOutbox& outbox, Take take) {
    std::mutex lock;
    std::condition_variable worked;
    bool work = false;
    outbox.onWork = [&] {
        {
            std::lock_guard guard(lock);
            work = true;
        }
        worked.notify_one();
    };
    while (!outbox.isIdle()) {
        if (auto packet = outbox.nextPacket()) {
            take(*packet);
            continue;
        }
        std::unique_lock guard(lock);
        worked.wait(guard, [&] { return std::exchange(work, false); });
    }
}

void outboxNextPacket(benchmark::State& state) {
    Bench::TransferWorkspace::shared();
    for (auto _ : state) {
        TessaloyNet::TransferOutbox outbox;
        outbox.enqueue(fileTransfer());
        std::uint64_t bytes = 0;
        pullAll(outbox, [&](const WirePacket& packet) { bytes += packet.payload().size(); });
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * volume));
}
BENCHMARK(outboxNextPacket)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void inboxHandle(benchmark::State& state) {
    Bench::TransferWorkspace::shared();
    const Bytes data = chunkPattern();
    Sha256 running;
    for (std::uint64_t offset = 0; offset < volume; offset += chunkSize) running.update(data);
    const auto digest = running.digest();

    for (auto _ : state) {
        Receiver receiver;
        receiver.inbox.handle(TransferMessage::offer({1, TransferPurpose::file, "source.bin", "", volume}));
        TransferMessage chunk = TransferMessage::chunk(1, 0, data);
        for (std::uint64_t offset = 0; offset < volume; offset += chunkSize) {
            std::get<TransferMessage::Chunk>(chunk.value).offset = offset;
            receiver.inbox.handle(chunk);
        }
        receiver.inbox.handle(TransferMessage::finish(1, Bytes(digest.begin(), digest.end())));
        if (!receiver.complete) state.SkipWithError("the transfer did not complete");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * volume));
}
BENCHMARK(inboxHandle)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void outboxThroughWireIntoInbox(benchmark::State& state) {
    Bench::TransferWorkspace::shared();
    for (auto _ : state) {
        TessaloyNet::TransferOutbox outbox;
        outbox.enqueue(fileTransfer());
        Receiver receiver;
        pullAll(outbox, [&](const WirePacket& packet) { receiver.inbox.handle(TransferMessage::decode(packet)); });
        if (!receiver.complete) state.SkipWithError("the transfer did not complete");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * volume));
}
BENCHMARK(outboxThroughWireIntoInbox)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
