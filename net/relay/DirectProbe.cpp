#include "net/relay/DirectProbe.h"

#include "base/SerialQueue.h"
#include "net/relay/CandidateAddress.h"

#include <asio/ip/tcp.hpp>

#include <cmath>

namespace TessaloyNet::DirectProbe {

using asio::ip::tcp;

namespace {

struct ProbeRace : std::enable_shared_from_this<ProbeRace> {
    TessaloyBase::SerialQueue queue{"dev.tessaloy.direct-probe"};
    std::vector<std::pair<std::string, tcp::endpoint>> endpoints;
    std::vector<std::shared_ptr<tcp::socket>> connections;
    std::vector<TessaloyBase::ScheduledCall> timers;
    Handler done;
    std::size_t failures = 0;

    void finish(std::optional<std::string> winner) {
        if (!done) return;
        Handler taken = std::move(done);
        done = nullptr;
        std::error_code ignored;
        for (auto& connection : connections) connection->close(ignored);
        connections.clear();
        timers.clear();
        taken(std::move(winner));
    }

    void start(TessaloyBase::QueueClock& clock, TessaloyBase::QueueClock::Duration timeout) {
        // Each connection's own time-out is the whole seconds above the probe's.
        const TessaloyBase::QueueClock::Duration connectTimeout(std::ceil(timeout.count()));
        for (const auto& [text, endpoint] : endpoints) {
            auto socket = std::make_shared<tcp::socket>(queue.executor());
            connections.push_back(socket);
            const std::weak_ptr<ProbeRace> weak = weak_from_this();
            // Pending connections keep the race alive; finishing closes them all.
            socket->async_connect(endpoint, [race = shared_from_this(), text = text](std::error_code error) {
                if (!race->done) return;
                if (!error) return race->finish(text);
                if (++race->failures == race->endpoints.size()) race->finish(std::nullopt);
            });
            timers.push_back(clock.after(queue, connectTimeout, [weak, socket] {
                std::error_code ignored;
                if (weak.lock()) socket->close(ignored);
            }));
        }
        timers.push_back(clock.after(queue, timeout, [weak = weak_from_this()] {
            if (auto race = weak.lock()) race->finish(std::nullopt);
        }));
    }
};

} // namespace

void firstReachable(const std::vector<std::string>& candidates, TessaloyBase::QueueClock::Duration timeout,
                    Handler done, std::shared_ptr<TessaloyBase::QueueClock> clock) {
    if (!clock) clock = TessaloyBase::sharedSteadyQueueClock();
    auto race = std::make_shared<ProbeRace>();
    for (const std::string& text : candidates) {
        if (const auto endpoint = candidateEndpoint(text)) race->endpoints.emplace_back(text, *endpoint);
    }
    if (race->endpoints.empty()) return done(std::nullopt);
    race->done = std::move(done);
    // The race keeps itself alive through its queued start and its connections' handlers.
    race->queue.async([race, clock, timeout] { race->start(*clock, timeout); });
}

} // namespace TessaloyNet::DirectProbe
