#include "app/ui/decisions/MenuStatus.h"

namespace Plovander {

MenuStatus menuStatus(const MenuStatusInputs& in) {
    if (in.isSharing) return MenuStatus::connected;
    if (in.hasPendingPeer) return MenuStatus::needsApproval;
    if (in.hasPairingCode) return MenuStatus::pairing;
    if (!in.hasPairedDevices) return MenuStatus::setUp;
    if (in.acceptsPairedDevices) return MenuStatus::available;
    if (in.listensAutomatically && in.hasSetupProblem) return MenuStatus::needsAttention;
    if (in.listensAutomatically && !in.listeningHeldByUser) return MenuStatus::starting;
    return MenuStatus::notAvailable;
}

QString statusText(MenuStatus status) {
    switch (status) {
        case MenuStatus::connected:
            return QStringLiteral("Connected");
        case MenuStatus::needsApproval:
            return QStringLiteral("Needs approval");
        case MenuStatus::pairing:
            return QStringLiteral("Pairing");
        case MenuStatus::available:
            return QStringLiteral("Available");
        case MenuStatus::starting:
            return QStringLiteral("Starting");
        case MenuStatus::needsAttention:
            return QStringLiteral("Needs attention");
        case MenuStatus::notAvailable:
            return QStringLiteral("Not available");
        case MenuStatus::setUp:
            return QStringLiteral("Set up");
    }
    return {};
}

Tint statusTint(MenuStatus status) {
    switch (status) {
        case MenuStatus::connected:
            return Tint::green;
        case MenuStatus::needsApproval:
        case MenuStatus::needsAttention:
            return Tint::orange;
        case MenuStatus::pairing:
        case MenuStatus::available:
        case MenuStatus::starting:
            return Tint::accent;
        case MenuStatus::notAvailable:
        case MenuStatus::setUp:
            return Tint::secondary;
    }
    return Tint::secondary;
}

bool showsAvailability(MenuStatus status) {
    return status != MenuStatus::needsApproval && status != MenuStatus::pairing && status != MenuStatus::setUp;
}

} // namespace Plovander
