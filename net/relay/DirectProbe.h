#pragma once

#include "base/QueueClock.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace TessaloyNet {

// Device side: races TCP connections to a Mac's direct candidates and reports the first text whose
// connection became ready, or none when all failed or the time ran out. Never fails otherwise.
namespace DirectProbe {

using Handler = std::function<void(std::optional<std::string>)>;

// `done` runs once, on the probe's own queue (at once, in place, when no candidate parses).
void firstReachable(const std::vector<std::string>& candidates, TessaloyBase::QueueClock::Duration timeout,
                    Handler done, std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);

} // namespace DirectProbe

} // namespace TessaloyNet
