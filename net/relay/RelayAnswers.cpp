#include "net/relay/RelayAnswers.h"

#include "base/Hop.h"

#include <utility>

namespace TessaloyNet {

std::shared_ptr<RelayAnswers> RelayAnswers::create(std::shared_ptr<TessaloyBase::QueueClock> clock) {
    return std::shared_ptr<RelayAnswers>(new RelayAnswers(std::move(clock)));
}

RelayAnswers::RelayAnswers(std::shared_ptr<TessaloyBase::QueueClock> clock) : clock_(std::move(clock)) {}

bool RelayAnswers::answer(const RelayEndpoint& relay, TessaloyCore::ByteView sessionID,
                          TessaloyConnectWire::ConnectChannel channel, std::uint16_t localPort,
                          RelayAnswer::FailureHandler onFailure, RelayAnswer::BridgeSource bridgeSource,
                          std::optional<TessaloyBase::QueueClock::Duration> patience) {
    {
        // Answers only end meanwhile: what is checked here still holds below.
        const std::lock_guard lock(lock_);
        if (open_.size() >= maximumInFlight) return false;
    }
    auto answer = RelayAnswer::prepare(relay, sessionID, channel, localPort, std::move(bridgeSource), clock_);
    {
        const std::lock_guard lock(lock_);
        open_.emplace(answer.get(), answer);
    }
    answer->start(TessaloyBase::hop(*this,
                                    [key = answer.get(), onFailure = std::move(onFailure)](
                                        RelayAnswers& answers, const std::optional<RelayAnswer::Failure>& failure) {
                                        if (failure && onFailure) onFailure(*failure);
                                        answers.ended(key);
                                    }),
                  patience);
    return true;
}

void RelayAnswers::ended(const RelayAnswer* answer) {
    std::shared_ptr<RelayAnswer> last;
    const std::lock_guard lock(lock_);
    const auto found = open_.find(answer);
    if (found == open_.end()) return;
    // The answer is closing under a handler that holds it too: it does not go here.
    last = std::move(found->second);
    open_.erase(found);
}

} // namespace TessaloyNet
