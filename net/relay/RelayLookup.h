#pragma once

#include "base/QueueClock.h"
#include "core/Bytes.h"
#include "core/CaseError.h"
#include "net/relay/RelayEndpoint.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TessaloyNet {

// Device side: asks the relay service for the direct candidates a Mac registered.
namespace RelayLookup {

enum class Problem { timedOut, unexpected };
const char* nameOf(Problem problem) noexcept;
const char* descriptionOf(Problem problem) noexcept;
using Failure = TessaloyCore::CaseError<Problem>;

// The candidates in the relay's order, or the error: a RelayRefusal, a ConnectWireError for a
// malformed list, Failure, or a std::system_error from the network.
using Handler = std::function<void(std::vector<std::string> candidates, std::exception_ptr error)>;

// Throws when the hello cannot be sealed; nothing is opened then. `done` runs once, on the
// lookup's own queue.
void candidates(const RelayEndpoint& relay, TessaloyCore::ByteView meetingID,
                TessaloyBase::QueueClock::Duration timeout, Handler done,
                std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);

} // namespace RelayLookup

} // namespace TessaloyNet
