#include "app/ui/decisions/FilesTexts.h"

namespace Plovander::FilesTexts {

bool canSend(bool isSharing, bool allowsRemoteControl) { return isSharing && allowsRemoteControl; }

DropZone dropZone(bool isSharing, bool allowsRemoteControl) {
    if (canSend(isSharing, allowsRemoteControl)) {
        return {"tray.and.arrow.up", QStringLiteral("Drop files here to send them to your device"),
                QStringLiteral("Up to 1 GB each. Folders: compress them first.")};
    }
    if (!isSharing) {
        return {"tray", QStringLiteral("No device is connected"),
                QStringLiteral("Connect your iPhone, then drop files here. Files it sends arrive in Downloads "
                               "\u203A Plovander.")};
    }
    return {"tray", QStringLiteral("Remote control is off"),
            QStringLiteral("Turn on Allow remote control in Plovander Settings to send files.")};
}

FinishedLook finished(Outcome outcome, bool isIncoming, const QString& failure) {
    switch (outcome) {
        case Outcome::done:
            return {"checkmark.circle.fill", Tint::green,
                    isIncoming ? QStringLiteral("Received from your device") : QStringLiteral("Sent to your device")};
        case Outcome::cancelled:
            return {"minus.circle.fill", Tint::secondary, QStringLiteral("Cancelled")};
        case Outcome::failed:
            return {"exclamationmark.circle.fill", Tint::orange, failure};
    }
    return {};
}

} // namespace Plovander::FilesTexts
