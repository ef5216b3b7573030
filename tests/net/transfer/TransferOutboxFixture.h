#pragma once

#include "net/transfer/TransferOutbox.h"

#include "core/DataTransferSource.h"
#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace TransferOutboxTesting {

using namespace TessaloyCore;
using TessaloyNet::TransferOutbox;
using Reason = TransferCancelReason;
using Testing::digestOf;
using Testing::pattern;

// Declares `declared` bytes but holds `data`; tells whether it was closed.
class CountedSource final : public TransferSource {
public:
    CountedSource(Bytes data, std::shared_ptr<bool> closed) : inner_(std::move(data)), closed_(std::move(closed)) {}
    Bytes read(std::size_t maximumBytes) override { return inner_.read(maximumBytes); }
    std::uint64_t size() const override { return inner_.size(); }
    void close() noexcept override { *closed_ = true; }

private:
    DataTransferSource inner_;
    std::shared_ptr<bool> closed_;
};

struct Made {
    std::unique_ptr<OutgoingTransfer> transfer;
    std::shared_ptr<bool> closed;
};

inline Made transferOf(std::uint32_t id, const Bytes& data, std::optional<std::uint64_t> declared = std::nullopt,
                       std::size_t chunkSize = 4, std::string name = "file.bin", std::string contentType = "") {
    auto closed = std::make_shared<bool>(false);
    TransferOffer offer{id, TransferPurpose::file, std::move(name), std::move(contentType),
                        declared.value_or(data.size())};
    return {std::make_unique<OutgoingTransfer>(offer, std::make_unique<CountedSource>(data, closed), chunkSize),
            closed};
}

struct Recorder {
    struct Progress {
        std::uint32_t id;
        std::uint64_t sent;
        std::uint64_t total;
        friend bool operator==(const Progress&, const Progress&) = default;
    };
    struct Finished {
        std::uint32_t id;
        std::optional<Reason> reason;
        friend bool operator==(const Finished&, const Finished&) = default;
    };
    std::vector<Progress> progress;
    std::vector<Finished> finished;
    int work = 0;

    void attach(TransferOutbox& outbox) {
        outbox.onWork = [this] { ++work; };
        outbox.onProgress = [this](std::uint32_t id, std::uint64_t sent, std::uint64_t total) {
            progress.push_back({id, sent, total});
        };
        outbox.onFinished = [this](std::uint32_t id, std::optional<Reason> reason) {
            finished.push_back({id, reason});
        };
    }
};

inline std::optional<TransferMessage> next(TransferOutbox& outbox) {
    auto packet = outbox.nextPacket();
    if (!packet) return std::nullopt;
    EXPECT_EQ(packet->kind(), WirePacket::Kind::transfer);
    return TransferMessage::decode(*packet);
}

inline std::vector<TransferMessage> drain(TransferOutbox& outbox) {
    std::vector<TransferMessage> messages;
    while (auto message = next(outbox)) {
        messages.push_back(std::move(*message));
        if (messages.size() > 10'000) break;
    }
    return messages;
}

// Reads ahead at once, on the caller's thread, so that every chunk is ready when it is asked for.
inline void readAtOnce(std::function<void()> job) { job(); }

// Holds the read-ahead jobs until a test runs them; unrun, nextPacket() has nothing after an offer.
struct HeldJobs {
    std::vector<std::function<void()>> jobs;

    TransferOutbox::Worker worker() {
        return [this](std::function<void()> job) { jobs.push_back(std::move(job)); };
    }
    void runAll() {
        while (!jobs.empty()) {
            auto job = std::move(jobs.front());
            jobs.erase(jobs.begin());
            job();
        }
    }
    std::function<void()> take() {
        EXPECT_EQ(jobs.size(), 1u);
        auto job = std::move(jobs.front());
        jobs.clear();
        return job;
    }
};

class TransferOutboxTest : public testing::Test {
protected:
    void SetUp() override { recorder.attach(outbox); }

    TransferOutbox outbox{readAtOnce};
    Recorder recorder;
};

} // namespace TransferOutboxTesting
