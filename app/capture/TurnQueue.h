#pragma once

#include "base/MainActor.h"

#include <coroutine>
#include <deque>
#include <memory>
#include <utility>

namespace Plovander {

// Main actor: tasks that must not overlap (starting, stopping, retuning a capture) take turns in
// the order they asked. `co_await turns.next()` continues on the main actor once every earlier turn
// has ended and returns this task's Turn, which ends when it is destroyed. The queue's state lives
// as long as any Turn, so a task that outlives the queue's owner still hands its turn on.
class TurnQueue {
    struct State {
        explicit State(TessaloyBase::MainActor& owner) : actor(owner) {}
        TessaloyBase::MainActor& actor;
        bool taken = false;
        std::deque<std::coroutine_handle<>> waiting;

        void release() {
            if (waiting.empty()) {
                taken = false;
                return;
            }
            // The turn passes straight on; the next task continues on a later turn of the actor.
            const std::coroutine_handle<> next = waiting.front();
            waiting.pop_front();
            actor.post([next] { next.resume(); });
        }
    };

public:
    class Turn {
    public:
        Turn() = default;
        explicit Turn(std::shared_ptr<State> state) : state_(std::move(state)) {}
        Turn(Turn&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
        Turn& operator=(Turn&& other) noexcept {
            if (this != &other) {
                end();
                state_ = std::exchange(other.state_, nullptr);
            }
            return *this;
        }
        ~Turn() { end(); }

        void end() {
            if (const auto state = std::exchange(state_, nullptr)) state->release();
        }

    private:
        std::shared_ptr<State> state_;
    };

    class Awaiter {
    public:
        explicit Awaiter(std::shared_ptr<State> state) : state_(std::move(state)) {}
        bool await_ready() {
            if (state_->taken) return false;
            state_->taken = true;
            return true;
        }
        void await_suspend(std::coroutine_handle<> waiting) { state_->waiting.push_back(waiting); }
        Turn await_resume() { return Turn(state_); }

    private:
        std::shared_ptr<State> state_;
    };

    explicit TurnQueue(TessaloyBase::MainActor& actor) : state_(std::make_shared<State>(actor)) {}

    Awaiter next() { return Awaiter(state_); }
    bool isTaken() const { return state_->taken; }

private:
    std::shared_ptr<State> state_;
};

} // namespace Plovander
