#pragma once

#include <QString>

namespace Plovander {

// The popover's status word: it alone picks the middle panel and whether the availability
// switches show.
enum class MenuStatus { connected, needsApproval, pairing, available, starting, needsAttention, notAvailable, setUp };

// The colours the views paint with, by role; the views turn them into the palette's colours.
enum class Tint { green, orange, accent, secondary, primary };

// What the status word is decided from, read from the controller.
struct MenuStatusInputs {
    bool isSharing = false;
    bool hasPendingPeer = false;
    bool hasPairingCode = false;
    bool hasPairedDevices = false;
    bool acceptsPairedDevices = false;
    bool listensAutomatically = false;
    bool hasSetupProblem = false;
    // The user's stop keeps the Mac from listening although availability is on.
    bool listeningHeldByUser = false;
};

// The first rule that holds, in the order: sharing, a device waiting, a code shown, nothing paired,
// accepting, a problem while listening, listening (unless the user's stop holds it off), otherwise
// not available.
MenuStatus menuStatus(const MenuStatusInputs& inputs);
QString statusText(MenuStatus status);
Tint statusTint(MenuStatus status);
// The switches are hidden while a code or a waiting device needs the whole popover.
bool showsAvailability(MenuStatus status);

} // namespace Plovander
