#include "app/shell/SessionEffects.h"

#include "app/services/InputInjector.h"
#include "app/shell/SessionLink.h"
#include "app/shell/SessionModel.h"
#include "app/shell/SessionServices.h"
#include "app/shell/Settings.h"
#include "app/trace/TraceLog.h"

namespace Plovander {

SessionEffects::SessionEffects(SessionModel& model, SessionLink& link, SessionServices& services, InputInjector& input,
                               Platform::UserDefaults& defaults)
    : model_(model), link_(link), services_(services), input_(input), defaults_(defaults) {}

void SessionEffects::applyPrivacy(TessaloyCore::SessionMessage::PrivacyState wanted) {
    const bool permitted = model_.isSharing && model_.allowsRemoteControl;
    services_.blanker->setBlanking(wanted.blanksScreen && permitted);
    // A server that stopped offering what the lock needs unlocks a held lock too.
    const bool lock = wanted.locksLocalInput && permitted && services_.inputLock->isTrusted();
    if (lock && !services_.inputLock->isLocked()) {
        services_.inputLock->lock();
    } else if (!lock && services_.inputLock->isLocked()) {
        services_.inputLock->unlock();
    }
    const TessaloyCore::SessionMessage::PrivacyState actual = inForce();
    if (actual != model_.privacy.get()) {
        TraceLog::message([&] {
            return std::string("privacy blanksScreen=") + TraceLog::boolText(actual.blanksScreen) +
                   " locksLocalInput=" + TraceLog::boolText(actual.locksLocalInput);
        });
    }
    model_.privacy.set(actual);
    link_.sendOnControl(TessaloyCore::SessionMessage{TessaloyCore::SessionMessage::PrivacyApplied{actual}});
}

// What is really in force, never what was asked for: a blanker that blacked out no display does not
// blank, and a lock that no layer took does not lock.
TessaloyCore::SessionMessage::PrivacyState SessionEffects::inForce() const {
    return {.blanksScreen = services_.blanker->isBlanking() && services_.blanker->blacksOutADisplay(),
            .locksLocalInput = services_.inputLock->isLocked()};
}

void SessionEffects::updateSleepGuard() {
    const bool on = model_.isSharing || (model_.acceptsPairedDevices && model_.staysAwakeForPairedDevices);
    services_.sleepGuard->setActive(
        on, model_.isSharing ? "Plovander is sharing this screen" : "Plovander is waiting for a paired device");
}

void SessionEffects::releaseRemoteControl() {
    input_.releaseAll();
    const auto privacy = model_.privacy.get();
    if (privacy.blanksScreen || privacy.locksLocalInput) applyPrivacy(privacy);
}

void SessionEffects::endSession() {
    input_.releaseAll();
    services_.blanker->setBlanking(false);
    services_.inputLock->unlock();
    model_.privacy.set(inForce());
}

void SessionEffects::refreshLoginItem() {
    services_.loginItem.reconcile(Settings::isOn(defaults_, Settings::loginItemChosen));
    if (showsChangeFailure_) return;
    model_.loginItem.set(services_.loginItem.agentState());
}

void SessionEffects::setStartAtLogin(bool wanted) {
    defaults_.setBoolean(Settings::loginItemChosen, true);
    defaults_.setBoolean(Settings::startAtLoginWanted, wanted);
    LoginItem::State outcome = services_.loginItem.setEnabled(wanted);
    showsChangeFailure_ = outcome.value == LoginItem::State::Case::unavailable;
    model_.loginItem.set(std::move(outcome));
}

} // namespace Plovander
