#pragma once

#include <future>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Testing {

// A network namespace of the test's own (made with `ip netns`, as root), holding only a loopback
// that is down until the test sets it up. The test adds its links and addresses with ip(), and runs
// code in the namespace with inside(): sockets made there stay in it. Removed, with every link in
// it, on destruction.
class NetworkNamespace {
public:
    NetworkNamespace();
    ~NetworkNamespace();
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    // Why the namespace could not be made; nothing when it exists.
    const std::optional<std::string>& unavailable() const { return unavailable_; }
    const std::string& name() const { return name_; }

    // Runs `ip -n <name> <arguments...>`; throws std::runtime_error with its errors when it fails.
    void ip(const std::vector<std::string>& arguments) const;
    // Runs `command` in the namespace and returns its output; throws like ip().
    std::string exec(const std::vector<std::string>& command) const;
    // A virtual cable between the links `near` and `far`, both up (so both running); `far` ends in
    // `farSide` when given.
    void addCable(const std::string& near, const std::string& far, const NetworkNamespace* farSide = nullptr) const;

    // Moves the calling thread into the namespace for good; threads it starts later are born there,
    // and /proc/net follows when it is the main thread. Aborts when it cannot.
    void enter() const;

    // Runs `work` on a thread of its own that has entered the namespace; returns or throws what it does.
    template <typename Work>
    auto inside(Work work) const -> decltype(work()) {
        std::packaged_task<decltype(work())()> task(std::move(work));
        auto result = task.get_future();
        std::thread([&] {
            enter();
            task();
        }).join();
        return result.get();
    }

private:
    std::string name_;
    std::optional<std::string> unavailable_;
};

} // namespace Testing
