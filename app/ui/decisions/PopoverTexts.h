#pragma once

#include "app/ui/decisions/MenuStatus.h"
#include "core/QualityMode.h"
#include "core/VideoCodec.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <optional>

namespace Plovander {

// The texts and states of the popover's rows that depend on the models, decided apart from the
// widgets that show them.
namespace PopoverTexts {

// The card of the starting, available and not-available states. Not available while availability is
// on means the user's stop holds listening off: the card says how to listen again.
struct StatusCard {
    QString symbol;
    Tint tint;
    QString title;
    QString subtitle;
};
std::optional<StatusCard> statusCard(MenuStatus status, bool listensAutomatically);

// While the user's stop holds listening off, the switch is on but says why it does not apply.
QString availabilitySubtitle(bool listensAutomatically, bool heldByUser);
// The relay counts as on only when switched on and reporting exactly "On".
bool relayIsOn(bool usesConnect, const std::optional<QString>& connectStatus);
QString relaySubtitle(bool usesConnect, const std::optional<QString>& connectStatus);
QString setupProblemSubtitle(const std::optional<QString>& setupProblem);

// "Pair a device": disabled while capture is busy or running, while sharing, or with the devices
// limit reached; its tooltip says why only for sharing and the limit.
struct PairButton {
    bool enabled;
    QString tooltip;
};
PairButton pairButton(bool captureBusy, bool captureRunning, bool isSharing, std::size_t pairedDevices,
                      std::size_t limit, const QString& limitText);

// The live countdown: minutes and two-digit seconds, with hours in front from one hour on; never
// below zero. A started second counts as a whole one, so a fresh five-minute offer reads 5:00.
QString countdownText(std::chrono::duration<double> remaining);

QString accessLine(bool allowsRemoteControl);
QString qualityLine(TessaloyCore::QualityMode mode, int height, int framesPerSecond);
QString codecTooltip(TessaloyCore::VideoCodec codec);
// None while neither the screen is blanked nor the input locked.
std::optional<QString> privacyText(bool blanksScreen, bool locksLocalInput);

} // namespace PopoverTexts
} // namespace Plovander
