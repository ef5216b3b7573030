#pragma once

#include <memory>
#include <optional>
#include <string>

namespace Platform {

// Keeps the computer from going to sleep when idle, for as long as it is held. Main thread only.
class PowerAssertion {
public:
    static std::unique_ptr<PowerAssertion> create();

    virtual ~PowerAssertion() = default;

    // Holds the assertion, named by `reason`; a held one keeps the reason it was taken with.
    // Returns nullopt when it is held afterwards, else the platform's code of why not (a negative
    // errno).
    [[nodiscard]] virtual std::optional<int> hold(const std::string& reason) = 0;
    // Lets go of a held assertion; harmless when none is held.
    virtual void release() = 0;
    virtual bool isHeld() const = 0;
};

} // namespace Platform
