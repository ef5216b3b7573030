#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace Platform::Linux {

// Lets a producer's callbacks through until it is closed. Shared (by std::shared_ptr) between the
// producer and the work it posts to a serial queue, so posted work outlives the producer safely.
// Calls through one gate never overlap: they all run on the producer's serial queue.
class CallbackGate {
public:
    // Runs `call` unless the gate is closed; returns whether it ran.
    bool run(const std::function<void()>& call);

    // After it returns no call runs any more: it waits for a running call to finish, except when it
    // is called from that call itself. Safe from any thread.
    void close();
    bool isOpen() const;

private:
    mutable std::mutex lock_;
    std::condition_variable idle_;
    bool open_ = true;
    bool running_ = false;
    std::thread::id runner_;
};

} // namespace Platform::Linux
