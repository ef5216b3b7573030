#pragma once

#include "net/portmap/DatagramExchange.h"

#include <deque>
#include <mutex>
#include <vector>

namespace Testing {

// A router that answers from a script: each exchange takes the next reply (nothing once the script
// runs out) and is recorded.
class ScriptedExchange final : public TessaloyNet::DatagramExchange {
public:
    struct Sent {
        TessaloyCore::Bytes request;
        std::string host;
        std::uint16_t port;
        int attempts;
        bool connected;
        friend bool operator==(const Sent&, const Sent&) = default;
    };

    void reply(std::optional<TessaloyCore::Bytes> bytes) {
        std::lock_guard guard(lock_);
        replies_.push_back(std::move(bytes));
    }
    std::vector<Sent> sent() const {
        std::lock_guard guard(lock_);
        return sent_;
    }

    std::optional<TessaloyCore::Bytes> send(const TessaloyCore::Bytes& request, const std::string& host,
                                            std::uint16_t port, int attempts) override {
        return take({request, host, port, attempts, true});
    }
    std::optional<TessaloyCore::Bytes> search(const TessaloyCore::Bytes& request, const std::string& host,
                                              std::uint16_t port, int attempts) override {
        return take({request, host, port, attempts, false});
    }

private:
    std::optional<TessaloyCore::Bytes> take(Sent sent) {
        std::lock_guard guard(lock_);
        sent_.push_back(std::move(sent));
        if (replies_.empty()) return std::nullopt;
        auto next = std::move(replies_.front());
        replies_.pop_front();
        return next;
    }

    mutable std::mutex lock_;
    std::deque<std::optional<TessaloyCore::Bytes>> replies_;
    std::vector<Sent> sent_;
};

} // namespace Testing
