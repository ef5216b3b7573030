#include "platform/linux/CallbackGate.h"

namespace Platform::Linux {

bool CallbackGate::run(const std::function<void()>& call) {
    {
        std::lock_guard guard(lock_);
        if (!open_) return false;
        running_ = true;
        runner_ = std::this_thread::get_id();
    }
    struct Finish {
        CallbackGate& gate;
        ~Finish() {
            {
                std::lock_guard guard(gate.lock_);
                gate.running_ = false;
                gate.runner_ = {};
            }
            gate.idle_.notify_all();
        }
    } finish{*this};
    call();
    return true;
}

void CallbackGate::close() {
    std::unique_lock guard(lock_);
    open_ = false;
    if (running_ && runner_ == std::this_thread::get_id()) return;
    idle_.wait(guard, [this] { return !running_; });
}

bool CallbackGate::isOpen() const {
    std::lock_guard guard(lock_);
    return open_;
}

} // namespace Platform::Linux
