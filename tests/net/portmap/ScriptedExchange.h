#pragma once

#include "net/portmap/DatagramExchange.h"

#include <deque>

namespace Testing {

// A router that answers from a script: each exchange takes the next reply, nothing once the script
// runs out. Searches are counted.
class ScriptedExchange final : public TessaloyNet::DatagramExchange {
public:
    std::deque<std::optional<TessaloyCore::Bytes>> replies;
    int searches = 0;

    void reply(std::optional<TessaloyCore::Bytes> bytes) { replies.push_back(std::move(bytes)); }

    std::optional<TessaloyCore::Bytes> send(const TessaloyCore::Bytes&, const std::string&, std::uint16_t,
                                            int) override {
        return take();
    }
    std::optional<TessaloyCore::Bytes> search(const TessaloyCore::Bytes&, const std::string&, std::uint16_t,
                                              int) override {
        ++searches;
        return take();
    }

private:
    std::optional<TessaloyCore::Bytes> take() {
        std::optional<TessaloyCore::Bytes> next;
        if (replies.empty()) return next;
        next.swap(replies.front());
        replies.pop_front();
        return next;
    }
};

} // namespace Testing
