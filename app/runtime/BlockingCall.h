#pragma once

#include "app/runtime/CancellationToken.h"
#include "base/BlockingQueue.h"
#include "base/MainActor.h"
#include "base/SerialQueue.h"

#include <atomic>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <utility>

namespace Plovander {

// What a task gets from a blocking call whose token was cancelled before it could go on.
struct BlockingCallAbandoned : std::runtime_error {
    BlockingCallAbandoned() : std::runtime_error("abandoned") {}
};

// `BlockingCall<T> call(actor, work); co_await call;` runs `work` on the pool for blocking work (or
// in turn on `queue`) and continues on the main actor with its result, or rethrows its exception
// there. `work` must not touch the awaiting object: it may be gone by the time the work ends. Once
// `token` is cancelled the task goes on at once, within cancel() when that runs on the main actor,
// and throws BlockingCallAbandoned; the work runs to its end and then reaches for the actor no more,
// so the actor may go first. Make the call a named local: g++ 12 destroys some temporaries of a
// co_await operand (lambda init-captures among them) twice.
template <typename Result>
class BlockingCall {
public:
    BlockingCall(TessaloyBase::MainActor& actor, std::function<Result()> work, CancellationToken token = {})
        : actor_(actor), work_(std::move(work)), token_(std::move(token)), state_(std::make_shared<State>()) {}
    BlockingCall(TessaloyBase::MainActor& actor, TessaloyBase::BlockingQueue queue, std::function<Result()> work,
                 CancellationToken token = {})
        : BlockingCall(actor, std::move(work), std::move(token)) {
        queue_.emplace(std::move(queue));
    }

    bool await_ready() const { return false; }
    void await_suspend(std::coroutine_handle<> waiting) {
        state_->waiting = waiting;
        auto step = [work = std::move(work_), state = state_, &actor = actor_]() mutable {
            try {
                state->value.emplace(work());
            } catch (...) {
                state->error = std::current_exception();
            }
            // What the work holds goes here, before the task goes on (and maybe ends).
            work = nullptr;
            const std::lock_guard guard(state->lock);
            // Under the lock: once the task is abandoned, the actor is not touched.
            if (!std::exchange(state->claimed, true)) actor.post([state] { state->waiting.resume(); });
        };
        if (queue_) {
            queue_->async(std::move(step));
        } else {
            TessaloyBase::runBlocking(std::move(step));
        }
        registration_ = token_.onCancel([state = state_, &actor = actor_] {
            {
                const std::lock_guard guard(state->lock);
                state->abandoned = true;
                if (std::exchange(state->claimed, true)) return;
            }
            if (actor.isCurrent() && state->suspended) return state->waiting.resume();
            actor.post([state] { state->waiting.resume(); });
        });
        state_->suspended = true;
    }
    Result await_resume() {
        token_.removeCallback(registration_);
        if (const std::lock_guard guard(state_->lock); state_->abandoned) throw BlockingCallAbandoned();
        if (state_->error) std::rethrow_exception(state_->error);
        return std::move(*state_->value);
    }

private:
    struct State {
        std::coroutine_handle<> waiting;
        std::mutex lock;
        bool claimed = false; // the task's one resumption is on its way
        bool abandoned = false;
        // await_suspend() has returned: the task may be resumed in place.
        std::atomic<bool> suspended{false};
        std::optional<Result> value;
        std::exception_ptr error;
    };

    TessaloyBase::MainActor& actor_;
    std::function<Result()> work_;
    CancellationToken token_;
    std::optional<TessaloyBase::BlockingQueue> queue_;
    std::shared_ptr<State> state_;
    CancellationToken::Registration registration_ = 0;
};

} // namespace Plovander
