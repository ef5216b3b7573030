#include "app/runtime/CancellationToken.h"

namespace Plovander {

CancellationToken::CancellationToken() : state_(std::make_shared<State>()) {}

void CancellationToken::cancel() const {
    std::map<Registration, std::function<void()>> callbacks;
    {
        std::lock_guard guard(state_->lock);
        if (state_->cancelled) return;
        state_->cancelled = true;
        callbacks.swap(state_->callbacks);
    }
    for (auto& [registration, callback] : callbacks) callback();
}

bool CancellationToken::isCancelled() const {
    std::lock_guard guard(state_->lock);
    return state_->cancelled;
}

CancellationToken::Registration CancellationToken::onCancel(std::function<void()> callback) const {
    {
        std::lock_guard guard(state_->lock);
        if (!state_->cancelled) {
            const Registration registration = state_->nextRegistration++;
            state_->callbacks.emplace(registration, std::move(callback));
            return registration;
        }
    }
    callback();
    return 0;
}

void CancellationToken::removeCallback(Registration registration) const {
    std::lock_guard guard(state_->lock);
    state_->callbacks.erase(registration);
}

} // namespace Plovander
