#pragma once

#include "base/MainActor.h"

#include <QWidget>

#include <cstdint>
#include <optional>

class QLabel;

namespace Platform {
class MachineInfo;
}

namespace Plovander {

class SettingRow;
class StreamingSession;

// "General": staying awake while available, the wake row, start at login and remote control, with
// the hints that say what keeps them from working.
class GeneralSection final : public QWidget {
    Q_OBJECT

public:
    // `patience` bounds the wake check; the actor and the machine outlive the section.
    GeneralSection(StreamingSession& session, TessaloyBase::MainActor& actor, const Platform::MachineInfo& machine,
                   TessaloyBase::MainActor::Duration patience, QWidget* parent = nullptr);

    // The section comes on screen: the wake setting is asked again, without waiting for it.
    void appeared();

private:
    void refresh();

    StreamingSession& session_;
    TessaloyBase::MainActor& actor_;
    const Platform::MachineInfo& machine_;
    const TessaloyBase::MainActor::Duration patience_;
    SettingRow* awake_;
    QWidget* awakeDivider_;
    QLabel* wakeDetail_;
    QLabel* wakeOn_;
    SettingRow* startAtLogin_;
    QLabel* loginFailure_;
    SettingRow* remoteControl_;
    QWidget* injectionHint_;
    std::optional<bool> wakeEnabled_;
    // Counts wake checks, so that only the newest one's answer counts.
    std::uint64_t wakeCheck_ = 0;
};

} // namespace Plovander
