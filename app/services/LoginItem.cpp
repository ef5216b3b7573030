#include "app/services/LoginItem.h"

#include "app/shell/Settings.h"
#include "app/trace/TraceLog.h"

namespace Plovander {
namespace {

using Item = Platform::LoginItems::Item;
using Status = Platform::LoginItems::Status;
using Case = LoginItem::State::Case;

LoginItem::State stateOf(Status status) {
    switch (status) {
        case Status::enabled:
            return {Case::enabled};
        case Status::requiresApproval:
            return {Case::needsApproval};
        case Status::notRegistered:
        case Status::notFound:
            break;
    }
    return {Case::disabled};
}

bool isRegistered(Status status) { return status == Status::enabled || status == Status::requiresApproval; }

} // namespace

std::string LoginItem::State::printed() const {
    switch (value) {
        case Case::unavailable:
            return "unavailable(\"" + text + "\")";
        case Case::enabled:
            return "enabled";
        case Case::disabled:
            return "disabled";
        case Case::needsApproval:
            return "needsApproval";
    }
    return {};
}

LoginItem::State LoginItem::agentState() {
    try {
        return stateOf(items_.status(Item::agent));
    } catch (const Platform::LoginItemsError& error) {
        return {Case::unavailable, error.what()};
    }
}

LoginItem::State LoginItem::setEnabled(bool enabled) {
    State state;
    try {
        if (enabled) {
            items_.registerItem(Item::agent);
        } else {
            items_.unregisterItem(Item::agent);
        }
        state = stateOf(items_.status(Item::agent));
    } catch (const Platform::LoginItemsError& error) {
        return {Case::unavailable, error.what()};
    }
    if (enabled && (state.value == Case::enabled || state.value == Case::needsApproval)) {
        defaults_.setText(Settings::loginAgentProgram, items_.program().string());
    }
    return state;
}

void LoginItem::migrateFromMainApp() {
    try {
        if (!isRegistered(items_.status(Item::mainApp))) return;
    } catch (const Platform::LoginItemsError&) {
        return;
    }
    try {
        items_.unregisterItem(Item::mainApp);
    } catch (const Platform::LoginItemsError&) {
        // The agent replaces it all the same.
    }
    const State state = setEnabled(true);
    TraceLog::message([&] { return "moved start-at-login to the keep-alive agent: " + state.printed(); });
}

void LoginItem::reconcile(bool fallbackWanted) {
    if (!defaults_.boolean(Settings::startAtLoginWanted).value_or(fallbackWanted)) return;
    const std::string program = items_.program().string();
    try {
        if (isRegistered(items_.status(Item::agent))) {
            if (defaults_.text(Settings::loginAgentProgram) == program) return;
            items_.unregisterItem(Item::agent);
        }
    } catch (const Platform::LoginItemsError&) {
        // Registering below reports what is wrong.
    }
    const State state = setEnabled(true);
    TraceLog::message([&] { return "start at login re-registered for " + program + ": " + state.printed(); });
}

} // namespace Plovander
