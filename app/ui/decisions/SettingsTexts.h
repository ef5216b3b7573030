#pragma once

#include "core/ReleaseManifest.h"
#include "core/UpdateStatus.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace Plovander {

// The texts and states of the footer's update row and of the settings window's rows that depend
// on the models, decided apart from the widgets that show them.
namespace SettingsTexts {

// The one update row: a disabled progress row while an installation runs, else the install row
// for a published release, else the check row.
struct UpdateRow {
    enum class Kind { progress, install, check };
    Kind kind;
    QString title;
};
UpdateRow updateRow(bool isInstalling, const std::optional<TessaloyCore::UpdateStatus>& status,
                    const std::optional<TessaloyCore::ReleaseManifest>& available, bool checking);
// The sentence of a failed installation, shown above the row.
std::optional<QString> updateFailureNote(const std::optional<TessaloyCore::UpdateStatus>& status);

QString wakeSubtitle(std::optional<bool> wakeEnabled);

// Whether an address (host, or host and port, an IPv6 host in brackets) lies in the overlay VPN's
// ranges: 100.64.0.0/10 and fd7a:115c:a1e0::/48.
bool isVPNAddress(const QString& address);
QString relayExplanation(bool usesConnect);

// "Frames … · encoded … · … KiB · dropped …", the bytes in whole kibibytes.
QString countersLine(std::int64_t frames, std::int64_t encoded, std::int64_t bytes, std::int64_t dropped);
struct DiagnosticsButtons {
    bool loadEnabled;
    bool testEnabled;
    bool stopShown;
};
DiagnosticsButtons diagnosticsButtons(bool captureBusy, bool captureRunning, bool hasDisplays, bool isSharing);

// A display picker entry: its name, or "Display " and its id when it has none, then its size.
QString displayEntry(const QString& name, std::uint32_t displayID, int width, int height);
// The picker follows the session's capture while sharing, and waits out any other capture.
bool displayPickerEnabled(bool captureBusy, bool captureRunning, bool isSharing);

} // namespace SettingsTexts
} // namespace Plovander
