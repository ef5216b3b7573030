#pragma once

#include "app/ui/decisions/MenuStatus.h"

#include <QString>

namespace Plovander {

// The files window's texts that depend on the models, decided apart from its widgets.
namespace FilesTexts {

// Files can be sent only to a connected device with remote control on.
bool canSend(bool isSharing, bool allowsRemoteControl);

struct DropZone {
    QString symbol;
    QString title;
    QString detail;
};
DropZone dropZone(bool isSharing, bool allowsRemoteControl);

// How one finished transfer ended, as its row shows it.
enum class Outcome { done, cancelled, failed };
struct FinishedLook {
    QString symbol;
    Tint tint;
    QString line;
};
// `failure` is the failed outcome's own sentence.
FinishedLook finished(Outcome outcome, bool isIncoming, const QString& failure);

} // namespace FilesTexts
} // namespace Plovander
