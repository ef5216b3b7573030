#pragma once

#include "base/MainActor.h"
#include "platform/MachineInfo.h"

#include <functional>
#include <optional>

namespace Plovander {

// Asks whether this computer wakes for network access without blocking the caller: the question
// runs on the pool for blocking work, and `answer` runs once on the main actor with its result, or
// with nullopt when `patience` runs out first. `machine` must outlive the question (the
// environment's does).
void askWakeForNetworkAccess(TessaloyBase::MainActor& actor, const Platform::MachineInfo& machine,
                             TessaloyBase::MainActor::Duration patience,
                             std::function<void(std::optional<bool>)> answer);

} // namespace Plovander
