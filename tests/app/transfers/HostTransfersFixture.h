#pragma once

#include "app/transfers/HostTransfers.h"
#include "core/Sha256.h"
#include "core/TransferMessage.h"
#include "net/send/VideoSendQueue.h"
#include "net/send/VideoSender.h"
#include "net/transfer/TransferInbox.h"
#include "platform/linux/XdgTransferFiles.h"
#include "tests/support/FakePacketChannel.h"
#include "tests/support/FakePasteboard.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace HostTransfersTesting {

using namespace TessaloyCore;
using Plovander::HostTransfers;
using Reason = TransferCancelReason;
using Activity = HostTransfers::Activity;
using Outcome = HostTransfers::Finished::Outcome;
using Testing::digestOf;
using Testing::pattern;

inline Bytes contentsOf(const std::filesystem::path& path) {
    std::error_code missing;
    const auto size = std::filesystem::file_size(path, missing);
    if (missing) return {};
    Bytes bytes(size);
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    return bytes;
}

inline void writeFile(const std::filesystem::path& path, ByteView bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::filesystem::path> filesIn(const std::filesystem::path& directory) {
    std::vector<std::filesystem::path> files;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(directory, missing)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

inline unsigned modeOf(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

inline TransferMessage cancelOf(std::uint32_t id, Reason reason) { return TransferMessage::cancel(id, reason); }

// The real files of this desktop pointed at a test's folders, with failures that tests can switch on.
class TestTransferFiles final : public Platform::TransferFiles {
public:
    TestTransferFiles(std::filesystem::path downloads, std::filesystem::path work) : real_(downloads, work) {}

    std::optional<std::string> reportedContentType;
    bool moveFails = false;
    std::vector<std::filesystem::path> quarantined;

    std::filesystem::path downloadsFolder() const override { return real_.downloadsFolder(); }
    std::filesystem::path workFolder() const override { return real_.workFolder(); }
    void prepareWorkFolder() const override { real_.prepareWorkFolder(); }
    void emptyWorkFolder() const override { real_.emptyWorkFolder(); }
    bool moveWithoutReplacing(const std::filesystem::path& file,
                              const std::filesystem::path& destination) const override {
        if (moveFails) throw std::system_error(EIO, std::generic_category(), "simulated");
        return real_.moveWithoutReplacing(file, destination);
    }
    bool setQuarantine(const std::filesystem::path& file, std::chrono::system_clock::time_point now) const override {
        const_cast<TestTransferFiles*>(this)->quarantined.push_back(file);
        return real_.setQuarantine(file, now);
    }
    std::string contentType(const std::filesystem::path& file) const override {
        return reportedContentType ? *reportedContentType : real_.contentType(file);
    }

private:
    Platform::Linux::XdgTransferFiles real_;
};

// One streaming session: the real inbox and outbox behind a VideoSender on a fake channel, the main
// actor in virtual time, a recording clipboard, and Downloads and the work folder in a fresh folder.
class HostTransfersTest : public testing::Test {
protected:
    HostTransfersTest() {
        transfers.isAllowed = [this] { return allowed; };
        transfers.remoteControlAllowed = [this] { return allowed; };
        transfers.paste = [this] { ++pastes; };
        sender->attach();
        transfers.attach(sender);
        // The work folder is ready.
        transfers.waitForReceiving();
    }

    std::filesystem::path downloads() const { return directory / "Downloads" / "Plovander"; }
    std::filesystem::path work() const { return directory / "cache" / "tessaloy" / "TessaloyIncoming"; }

    // A file of `bytes` in the test's own folder.
    std::filesystem::path makeFile(const std::string& name, ByteView bytes) {
        const auto path = directory / "outgoing" / name;
        std::filesystem::create_directories(path.parent_path());
        writeFile(path, bytes);
        return path;
    }

    // Lets the channel take up to `count` packets, decodes them and runs what they posted.
    std::vector<TransferMessage> pull(std::size_t count = 100'000) {
        std::vector<TransferMessage> messages;
        for (const WirePacket& packet : channel->pull(count)) messages.push_back(TransferMessage::decode(packet));
        actor.runUntilIdle();
        return messages;
    }

    // The cancel messages among `messages`.
    static std::vector<TransferMessage> cancels(const std::vector<TransferMessage>& messages) {
        std::vector<TransferMessage> found;
        for (const auto& message : messages) {
            if (std::holds_alternative<TransferMessage::Cancel>(message.value)) found.push_back(message);
        }
        return found;
    }

    // Waits for the received files' queues, then runs what they handed back, until none has
    // anything left.
    void settle() {
        do {
            transfers.waitForReceiving();
        } while (actor.runUntilIdle() > 0);
    }

    // A message from the device, and what follows from it.
    void handle(const TransferMessage& message) {
        transfers.handle(message);
        settle();
    }

    // The device sends a whole transfer, finish included, in chunks of `chunkSize`.
    void receive(std::uint32_t id, const std::string& name, const Bytes& data,
                 TransferPurpose purpose = TransferPurpose::file, const std::string& contentType = "",
                 std::size_t chunkSize = 65'536) {
        offer(id, name, data.size(), purpose, contentType);
        sendChunks(id, data, chunkSize);
        handle(TransferMessage::finish(id, digestOf(data)));
    }

    void offer(std::uint32_t id, const std::string& name, std::uint64_t size,
               TransferPurpose purpose = TransferPurpose::file, const std::string& contentType = "") {
        handle(TransferMessage::offer({id, purpose, name, contentType, size}));
    }

    void sendChunks(std::uint32_t id, const Bytes& data, std::size_t chunkSize = 65'536, std::uint64_t from = 0) {
        for (std::uint64_t offset = from; offset < data.size(); offset += chunkSize) {
            const auto end = std::min<std::uint64_t>(data.size(), offset + chunkSize);
            transfers.handle(TransferMessage::chunk(id, offset,
                                                    Bytes(data.begin() + static_cast<std::ptrdiff_t>(offset),
                                                          data.begin() + static_cast<std::ptrdiff_t>(end))));
        }
        settle();
    }

    const Activity* row(bool incoming, std::uint32_t id) const {
        for (const auto& activity : transfers.active()) {
            if (activity.isIncoming == incoming && activity.id == id) return &activity;
        }
        return nullptr;
    }

    // The id of the only outgoing row.
    std::uint32_t outgoingID() const {
        std::optional<std::uint32_t> id;
        for (const auto& activity : transfers.active()) {
            if (activity.isIncoming) continue;
            EXPECT_FALSE(id) << "more than one outgoing row";
            id = activity.id;
        }
        EXPECT_TRUE(id) << "no outgoing row";
        return id.value_or(0);
    }

    Testing::TemporaryDirectory directory;
    Testing::ManualMainActor actor;
    std::shared_ptr<Testing::FakePasteboard> pasteboard = std::make_shared<Testing::FakePasteboard>();
    std::shared_ptr<TestTransferFiles> files = std::make_shared<TestTransferFiles>(
        directory / "Downloads", directory / "cache" / "tessaloy" / "TessaloyIncoming");
    std::shared_ptr<Testing::FakePacketChannel> channel = std::make_shared<Testing::FakePacketChannel>();
    std::shared_ptr<TessaloyNet::VideoSendQueue> queue = std::make_shared<TessaloyNet::VideoSendQueue>(16, 8'388'608);
    // Outgoing transfers are read ahead at once, so that everything queued is ready to be pulled.
    std::shared_ptr<TessaloyNet::VideoSender> sender =
        std::make_shared<TessaloyNet::VideoSender>(channel, queue, [](std::function<void()> job) { job(); });
    bool allowed = true;
    int pastes = 0;
    HostTransfers transfers{actor, pasteboard, files};
};

} // namespace HostTransfersTesting
