#pragma once

#include <memory>
#include <stop_token>
#include <string>
#include <variant>

namespace Platform {

// Keeps the computer from going to sleep when idle, for as long as an assertion taken from it is
// held. Taking one asks a service of the system, which may be slow or never answer: take() blocks,
// so it belongs on the pool for blocking work, never on the main thread.
class PowerAssertion {
public:
    // One assertion: the computer stays awake until it is destroyed, on any thread.
    class Held {
    public:
        virtual ~Held() = default;
    };
    // The assertion, or the platform's code of why there is none (a negative errno).
    using Taken = std::variant<std::unique_ptr<Held>, int>;

    static std::shared_ptr<PowerAssertion> create();

    virtual ~PowerAssertion() = default;

    // Takes an assertion named by `reason`. Returns once the system has answered, after a bounded
    // wait when it does not, or soon after `stop` is requested (-ECANCELED). Safe from any thread.
    virtual Taken take(const std::string& reason, std::stop_token stop) = 0;
};

} // namespace Platform
