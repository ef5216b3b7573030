#include "app/ui/decisions/PopoverTexts.h"

#include <cmath>

namespace Plovander::PopoverTexts {

std::optional<StatusCard> statusCard(MenuStatus status, bool listensAutomatically) {
    switch (status) {
        case MenuStatus::starting:
            return StatusCard{"hourglass", Tint::accent, QStringLiteral("Getting ready\u2026"),
                              QStringLiteral("This Mac will be available in a moment.")};
        case MenuStatus::available:
            return StatusCard{"iphone", Tint::accent, QStringLiteral("Waiting for your iPhone"),
                              QStringLiteral("Open Plovander on your iPhone to connect.")};
        case MenuStatus::notAvailable:
            if (listensAutomatically) {
                return StatusCard{"moon.zzz", Tint::secondary, QStringLiteral("Not available"),
                                  QStringLiteral("Sharing was stopped on this Mac. Turn Available to my devices off "
                                                 "and on again to let your paired devices connect.")};
            }
            return StatusCard{
                "moon.zzz", Tint::secondary, QStringLiteral("Not available"),
                QStringLiteral("Turn on Available to my devices when you want to connect from your iPhone.")};
        default:
            return std::nullopt;
    }
}

QString availabilitySubtitle(bool listensAutomatically, bool heldByUser) {
    if (!listensAutomatically) return QStringLiteral("Nothing can find or connect to this Mac");
    if (heldByUser) return QStringLiteral("Paused: sharing was stopped on this Mac");
    return QStringLiteral("Your paired devices can connect");
}

bool relayIsOn(bool usesConnect, const std::optional<QString>& connectStatus) {
    return usesConnect && connectStatus == QStringLiteral("On");
}

QString relaySubtitle(bool usesConnect, const std::optional<QString>& connectStatus) {
    if (!usesConnect) return QStringLiteral("Off: this network and your VPN only");
    if (!connectStatus || connectStatus->isEmpty()) return QStringLiteral("Starting\u2026");
    if (*connectStatus == QStringLiteral("On")) return QStringLiteral("Reachable from anywhere");
    return *connectStatus;
}

QString setupProblemSubtitle(const std::optional<QString>& setupProblem) {
    if (!setupProblem || setupProblem->isEmpty()) return QStringLiteral("This Mac can't capture its screen.");
    return *setupProblem;
}

PairButton pairButton(bool captureBusy, bool captureRunning, bool isSharing, std::size_t pairedDevices,
                      std::size_t limit, const QString& limitText) {
    const bool full = pairedDevices >= limit;
    const bool enabled = !captureBusy && !captureRunning && !isSharing && !full;
    if (isSharing) return {enabled, QStringLiteral("Disconnect first to pair another device")};
    if (!full) return {enabled, QStringLiteral("Show a code to pair a new device")};
    return {enabled, limitText};
}

QString countdownText(std::chrono::duration<double> remaining) {
    const auto total = static_cast<long long>(std::ceil(std::max(remaining.count(), 0.0)));
    const long long hours = total / 3600;
    const long long minutes = total / 60 % 60;
    const long long seconds = total % 60;
    const QString tail = QStringLiteral("%1").arg(seconds, 2, 10, QLatin1Char('0'));
    if (hours > 0) return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(tail);
    return QStringLiteral("%1:%2").arg(minutes).arg(tail);
}

QString accessLine(bool allowsRemoteControl) {
    return allowsRemoteControl ? QStringLiteral("Can see and control this Mac") : QStringLiteral("Can see this screen");
}

QString qualityLine(TessaloyCore::QualityMode mode, int height, int framesPerSecond) {
    QString label;
    switch (mode) {
        case TessaloyCore::QualityMode::full:
            label = QStringLiteral("Full quality");
            break;
        case TessaloyCore::QualityMode::balanced:
            label = QStringLiteral("Balanced");
            break;
        case TessaloyCore::QualityMode::saver:
            label = QStringLiteral("Data saver");
            break;
    }
    return QStringLiteral("%1, %2p at %3 fps").arg(label).arg(height).arg(framesPerSecond);
}

QString codecTooltip(TessaloyCore::VideoCodec codec) {
    return codec == TessaloyCore::VideoCodec::hevc ? QStringLiteral("HEVC video") : QStringLiteral("H.264 video");
}

std::optional<QString> privacyText(bool blanksScreen, bool locksLocalInput) {
    if (blanksScreen && locksLocalInput) return QStringLiteral("Screen blanked, keyboard and mouse locked");
    if (blanksScreen) return QStringLiteral("Screen blanked on this Mac");
    if (locksLocalInput) return QStringLiteral("Keyboard and mouse locked on this Mac");
    return std::nullopt;
}

} // namespace Plovander::PopoverTexts
