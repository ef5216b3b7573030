#include "app/services/SleepGuard.h"

#include "app/trace/TraceLog.h"
#include "base/SerialQueue.h"

#include <mutex>
#include <utility>

namespace Plovander {

using Taken = Platform::PowerAssertion::Taken;

// Where an outcome goes: the guard while it lives. The guard is gone before the main actor is, so
// the actor may be posted to under the lock while the guard is there.
struct SleepGuard::Delivery {
    Delivery(SleepGuard& owner, TessaloyBase::MainActor& mainActor) : guard(&owner), actor(mainActor) {}

    std::mutex lock;
    SleepGuard* guard;
    TessaloyBase::MainActor& actor;
};

SleepGuard::SleepGuard(TessaloyBase::MainActor& actor, std::shared_ptr<Platform::PowerAssertion> assertion)
    : actor_(actor), assertion_(std::move(assertion)), delivery_(std::make_shared<Delivery>(*this, actor)) {}

SleepGuard::~SleepGuard() {
    stop_.request_stop();
    std::lock_guard guard(delivery_->lock);
    delivery_->guard = nullptr;
}

void SleepGuard::setActive(bool on, const std::string& reason) {
    if (!on) {
        on_ = false;
        held_.reset();
        return;
    }
    if (on_) return;
    on_ = true;
    reason_ = reason;
    ++wish_;
    if (!taking_) take();
}

void SleepGuard::take() {
    taking_ = true;
    TessaloyBase::runBlocking(
        [assertion = assertion_, reason = reason_, stop = stop_.get_token(), wish = wish_, delivery = delivery_] {
            auto taken = std::make_shared<Taken>(assertion->take(reason, stop));
            std::lock_guard guard(delivery->lock);
            // Without a guard, an assertion taken is let go of here.
            if (!delivery->guard) return;
            delivery->actor.post([delivery, wish, taken] {
                // Only the main actor changes `guard`, so it reads it without the lock.
                if (delivery->guard) delivery->guard->arrived(wish, std::move(*taken));
            });
        });
}

void SleepGuard::arrived(std::uint64_t wish, Taken taken) {
    taking_ = false;
    const bool wanted = on_ && wish == wish_;
    if (auto* held = std::get_if<std::unique_ptr<Platform::PowerAssertion::Held>>(&taken); held && wanted) {
        held_ = std::move(*held);
    } else if (const int* code = std::get_if<int>(&taken); code && wanted) {
        TraceLog::couldNotPreventIdleSleep(std::to_string(*code));
        on_ = false;
    } else if (on_) {
        // Taken with the reason of a switch on since undone; the one that came instead is let go of.
        take();
    }
}

} // namespace Plovander
