#pragma once

#include "core/WirePacket.h"
#include "net/channel/PacketChannel.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// What a channel reported, in order.
class ChannelRecorder {
public:
    TessaloyNet::PacketChannel::Events events() {
        return {
            .ready = [this] { change([&] { ++ready; }); },
            .packet =
                [this](TessaloyCore::WirePacket packet) { change([&] { packets.push_back(std::move(packet)); }); },
            .closed =
                [this](const std::optional<std::string>& error) {
                    change([&] {
                        ++closedCount;
                        closedError = error;
                    });
                },
        };
    }
    template <typename Predicate>
    bool waitUntil(Predicate predicate) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(20), [&] { return predicate(); });
    }
    bool waitForClose() {
        return waitUntil([&] { return closedCount > 0; });
    }

    std::mutex lock;
    std::condition_variable changed;
    int ready = 0;
    std::vector<TessaloyCore::WirePacket> packets;
    int closedCount = 0;
    std::optional<std::string> closedError;

private:
    template <typename Work>
    void change(Work work) {
        {
            std::lock_guard guard(lock);
            work();
        }
        changed.notify_all();
    }
};

} // namespace Testing
