#pragma once

#include "base/QueueClock.h"
#include "connectwire/ConnectChannel.h"
#include "core/Bytes.h"
#include "net/relay/RelayAnswer.h"
#include "net/relay/RelayEndpoint.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace TessaloyNet {

// The relayed calls being answered, and how many may be at once. A relay may send calls at any
// rate, and each answer holds descriptors and, once bridged, buffers: past `maximumInFlight`
// answers still waiting for the relay or bridging, calls are refused before anything is opened.
// Keeps each answer until it ends; dropping the object ends the answers waiting for the relay,
// while those already bridged go on until one side ends.
//
// One lock guards the answers: calls are answered on the caller's thread, and answers end on
// their own queues.
class RelayAnswers : public std::enable_shared_from_this<RelayAnswers> {
public:
    static constexpr std::size_t maximumInFlight = 8;

    static std::shared_ptr<RelayAnswers> create(std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);

    // Answers the call (see RelayAnswer, also for `patience`) unless `maximumInFlight` answers are
    // open: then it opens nothing and returns false. `onFailure` runs on the answer's queue. Throws
    // when the hello cannot be sealed. Call it from one thread.
    bool answer(const RelayEndpoint& relay, TessaloyCore::ByteView sessionID,
                TessaloyConnectWire::ConnectChannel channel, std::uint16_t localPort,
                RelayAnswer::FailureHandler onFailure, RelayAnswer::BridgeSource bridgeSource = {},
                std::optional<TessaloyBase::QueueClock::Duration> patience = std::nullopt);

private:
    explicit RelayAnswers(std::shared_ptr<TessaloyBase::QueueClock> clock);

    void ended(const RelayAnswer* answer);

    const std::shared_ptr<TessaloyBase::QueueClock> clock_;
    std::mutex lock_;
    std::map<const RelayAnswer*, std::shared_ptr<RelayAnswer>> open_;
};

} // namespace TessaloyNet
