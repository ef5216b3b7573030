#include "app/runtime/Awaiters.h"

namespace Plovander {

void SleepAwaiter::Wait::resumeOnce(bool didElapse) {
    if (resumed.exchange(true)) return;
    elapsed = didElapse;
    waiting.resume();
}

void SleepAwaiter::await_suspend(std::coroutine_handle<> waiting) {
    wait_ = std::make_shared<Wait>();
    wait_->waiting = waiting;
    wait_->timer = actor_.after(delay_, [wait = wait_] { wait->resumeOnce(true); });
    registration_ = token_.onCancel([wait = wait_, &actor = actor_] {
        wait->timer.cancel();
        if (actor.isCurrent() && wait->suspended) return wait->resumeOnce(false);
        actor.post([wait] { wait->resumeOnce(false); });
    });
    wait_->suspended = true;
}

bool SleepAwaiter::await_resume() {
    if (!wait_) return false;
    token_.removeCallback(registration_);
    return wait_->elapsed;
}

} // namespace Plovander
