#include "app/ui/decisions/SettingsTexts.h"

#include <QStringList>

namespace Plovander::SettingsTexts {

using TessaloyCore::UpdateStatus;

UpdateRow updateRow(bool isInstalling, const std::optional<UpdateStatus>& status,
                    const std::optional<TessaloyCore::ReleaseManifest>& available, bool checking) {
    if (isInstalling) {
        const auto state = status ? std::optional(status->state) : std::nullopt;
        if (state == UpdateStatus::State::downloading) return {UpdateRow::Kind::progress, "Downloading update\u2026"};
        if (state == UpdateStatus::State::verifying) return {UpdateRow::Kind::progress, "Checking update\u2026"};
        if (state == UpdateStatus::State::installing) return {UpdateRow::Kind::progress, "Installing update\u2026"};
        return {UpdateRow::Kind::progress, "Checking for updates\u2026"};
    }
    if (available) {
        // One arg() for both: a version holding "%2" must not take the build's place.
        return {UpdateRow::Kind::install,
                QStringLiteral("Install Plovander %1 (%2)")
                    .arg(QString::fromStdString(available->version), QString::number(available->build))};
    }
    return {UpdateRow::Kind::check, checking ? "Checking for updates\u2026" : "Check for Updates\u2026"};
}

std::optional<QString> updateFailureNote(const std::optional<UpdateStatus>& status) {
    if (!status || status->state != UpdateStatus::State::failed || !status->detail) return std::nullopt;
    return QString::fromStdString(*status->detail);
}

QString wakeSubtitle(std::optional<bool> wakeEnabled) {
    if (wakeEnabled == false) {
        return "Turn on Wake for network access, so a sleeping Mac can be woken on this network.";
    }
    return "Your iPhone can wake this Mac when both are on this network.";
}

bool isVPNAddress(const QString& address) {
    QString host;
    if (address.startsWith('[')) {
        const qsizetype close = address.indexOf(']');
        host = address.mid(1, close < 0 ? -1 : close - 1);
    } else {
        host = address.left(address.indexOf(':'));
    }
    if (host.toLower().startsWith("fd7a:115c:a1e0:")) return true;
    const QStringList pieces = host.split('.', Qt::SkipEmptyParts);
    if (pieces.size() != 4) return false;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = pieces[i].toInt(&ok);
        if (!ok) return false;
    }
    return numbers[0] == 100 && (numbers[1] & ~63) == 64;
}

QString relayExplanation(bool usesConnect) {
    return usesConnect ? "Your paired iPhone can reach this Mac from any network. End-to-end encrypted; the relay "
                         "can't see your screen."
                       : "Off: your iPhone connects only on this network or through your VPN.";
}

QString countersLine(std::int64_t frames, std::int64_t encoded, std::int64_t bytes, std::int64_t dropped) {
    return QStringLiteral("Frames %1 \u00B7 encoded %2 \u00B7 %3 KiB \u00B7 dropped %4")
        .arg(frames)
        .arg(encoded)
        .arg(bytes / 1024)
        .arg(dropped);
}

DiagnosticsButtons diagnosticsButtons(bool captureBusy, bool captureRunning, bool hasDisplays, bool isSharing) {
    return {.loadEnabled = !captureRunning && !captureBusy,
            .testEnabled = !captureBusy && hasDisplays && !captureRunning && !isSharing,
            .stopShown = captureRunning && !isSharing};
}

QString displayEntry(const QString& name, std::uint32_t displayID, int width, int height) {
    const QString shown = name.isEmpty() ? QStringLiteral("Display %1").arg(displayID) : name;
    // One arg() for all: a name holding "%1" (names come from the monitors) must not take the sizes' places.
    return QStringLiteral("%1 \u00B7 %2 \u00D7 %3").arg(shown, QString::number(width), QString::number(height));
}

bool displayPickerEnabled(bool captureBusy, bool captureRunning, bool isSharing) {
    return !captureBusy && !(captureRunning && !isSharing);
}

} // namespace Plovander::SettingsTexts
