#pragma once

#include "app/runtime/CancellationToken.h"
#include "base/MainActor.h"
#include "base/SerialQueue.h"

#include <QObject>

#include <atomic>
#include <coroutine>
#include <memory>

namespace Plovander {

// co_await sleepFor(actor, delay, token): suspends for `delay` of the actor's time. Resumes on the
// main actor with true when the time passed, or false as soon as the token is cancelled: within
// cancel() when that is called on the main actor, so that a task cancelled by an owner that goes
// ends even when the actor runs nothing more (at exit).
class SleepAwaiter {
public:
    SleepAwaiter(TessaloyBase::MainActor& actor, TessaloyBase::MainActor::Duration delay, CancellationToken token)
        : actor_(actor), delay_(delay), token_(std::move(token)) {}

    bool await_ready() const { return token_.isCancelled(); }
    void await_suspend(std::coroutine_handle<> waiting);
    bool await_resume();

private:
    struct Wait {
        std::coroutine_handle<> waiting;
        std::atomic<bool> resumed{false};
        // await_suspend() has returned: the coroutine may be resumed in place.
        std::atomic<bool> suspended{false};
        bool elapsed = false;
        TessaloyBase::ScheduledCall timer;
        void resumeOnce(bool didElapse);
    };

    TessaloyBase::MainActor& actor_;
    TessaloyBase::MainActor::Duration delay_;
    CancellationToken token_;
    std::shared_ptr<Wait> wait_;
    CancellationToken::Registration registration_ = 0;
};

inline SleepAwaiter sleepFor(TessaloyBase::MainActor& actor, TessaloyBase::MainActor::Duration delay,
                             CancellationToken token = {}) {
    return SleepAwaiter(actor, delay, std::move(token));
}

// co_await resumeOn(actor): continues on the main actor (at once when already there).
class MainActorHop {
public:
    explicit MainActorHop(TessaloyBase::MainActor& actor) : actor_(actor) {}
    bool await_ready() const { return actor_.isCurrent(); }
    void await_suspend(std::coroutine_handle<> waiting) {
        actor_.post([waiting] { waiting.resume(); });
    }
    void await_resume() const {}

private:
    TessaloyBase::MainActor& actor_;
};

inline MainActorHop resumeOn(TessaloyBase::MainActor& actor) { return MainActorHop(actor); }

// co_await resumeOn(queue): continues on a serial queue (at once when already there).
class SerialQueueHop {
public:
    explicit SerialQueueHop(TessaloyBase::SerialQueue& queue) : queue_(queue) {}
    bool await_ready() const { return queue_.isCurrent(); }
    void await_suspend(std::coroutine_handle<> waiting) {
        queue_.async([waiting] { waiting.resume(); });
    }
    void await_resume() const {}

private:
    TessaloyBase::SerialQueue& queue_;
};

inline SerialQueueHop resumeOn(TessaloyBase::SerialQueue& queue) { return SerialQueueHop(queue); }

// co_await nextEmission(actor, object, &Object::signal): continues on the main actor, on a later turn,
// once `object` emits `signal` (one without arguments). The object must outlive the wait.
template <typename Object>
class EmissionAwaiter {
public:
    using Signal = void (Object::*)();
    EmissionAwaiter(TessaloyBase::MainActor& actor, Object& object, Signal signal)
        : actor_(actor), object_(object), signal_(signal) {}
    bool await_ready() const { return false; }
    void await_suspend(std::coroutine_handle<> waiting) {
        QObject::connect(
            &object_, signal_, &object_, [&actor = actor_, waiting] { actor.post([waiting] { waiting.resume(); }); },
            Qt::SingleShotConnection);
    }
    void await_resume() const {}

private:
    TessaloyBase::MainActor& actor_;
    Object& object_;
    Signal signal_;
};

template <typename Object>
EmissionAwaiter<Object> nextEmission(TessaloyBase::MainActor& actor, Object& object,
                                     typename EmissionAwaiter<Object>::Signal signal) {
    return EmissionAwaiter<Object>(actor, object, signal);
}

} // namespace Plovander
