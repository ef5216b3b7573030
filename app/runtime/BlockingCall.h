#pragma once

#include "base/MainActor.h"
#include "base/SerialQueue.h"

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace Plovander {

// `BlockingCall<T> call(actor, work); co_await call;` runs `work` on the pool for blocking work (or
// where `run` puts it) and continues on the main actor with its result, or rethrows its exception
// there. `work` must not touch the awaiting object: it may be gone by the time the work ends (the
// task then checks and returns). Make the call a named local: g++ 12 destroys some temporaries of a
// co_await operand (lambda init-captures among them) twice.
template <typename Result>
class BlockingCall {
public:
    using Run = std::function<void(std::function<void()>)>;

    BlockingCall(TessaloyBase::MainActor& actor, std::function<Result()> work, Run run = TessaloyBase::runBlocking)
        : actor_(actor), work_(std::move(work)), run_(std::move(run)), outcome_(std::make_shared<Outcome>()) {}

    bool await_ready() const { return false; }
    void await_suspend(std::coroutine_handle<> waiting) {
        run_([work = std::move(work_), outcome = outcome_, waiting, &actor = actor_]() mutable {
            try {
                outcome->value.emplace(work());
            } catch (...) {
                outcome->error = std::current_exception();
            }
            // What the work holds goes here, before the task goes on (and maybe ends).
            work = nullptr;
            actor.post([waiting] { waiting.resume(); });
        });
    }
    Result await_resume() {
        if (outcome_->error) std::rethrow_exception(outcome_->error);
        return std::move(*outcome_->value);
    }

private:
    struct Outcome {
        std::optional<Result> value;
        std::exception_ptr error;
    };

    TessaloyBase::MainActor& actor_;
    std::function<Result()> work_;
    Run run_;
    std::shared_ptr<Outcome> outcome_;
};

} // namespace Plovander
