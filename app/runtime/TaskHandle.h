#pragma once

#include "app/runtime/CancellationToken.h"

#include <qcoro/qcorotask.h>

#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace Plovander {

// A detached main-actor task that its owner can cancel and ask about. The body receives the task's
// cancellation token and runs at once up to its first suspension. An exception that escapes the
// body ends the task and is kept as `failure()`, so nothing waits on a task that threw.
class TaskHandle {
public:
    TaskHandle() = default;

    template <typename Body>
    [[nodiscard]] static TaskHandle start(Body body) {
        TaskHandle handle;
        handle.state_ = std::make_shared<State>();
        run(handle.state_, std::move(body));
        return handle;
    }
    // A task nobody cancels or asks about; it still ends quietly when its body throws.
    template <typename Body>
    static void detach(Body body) {
        run(std::make_shared<State>(), std::move(body));
    }

    // Asks the task to stop; harmless on an empty or finished handle.
    void cancel() const {
        if (state_) state_->token.cancel();
    }
    bool isRunning() const { return state_ && state_->running; }
    bool isCancelled() const { return state_ && state_->token.isCancelled(); }
    // Whether this handle holds the same task as `other`.
    bool isSameTask(const TaskHandle& other) const { return state_ && state_ == other.state_; }
    std::optional<std::string> failure() const { return state_ ? state_->failure : std::nullopt; }

private:
    struct State {
        CancellationToken token;
        bool running = true;
        std::optional<std::string> failure;
    };

    template <typename Body>
    static QCoro::Task<> run(std::shared_ptr<State> state, Body body) {
        try {
            co_await body(state->token);
        } catch (const std::exception& error) {
            state->failure = error.what();
        } catch (...) {
            state->failure = "unknown error";
        }
        state->running = false;
    }

    std::shared_ptr<State> state_;
};

} // namespace Plovander
