#pragma once

#include <memory>

namespace Testing {

// While it lives, every thread of the blocking pool waits, so no blocking work runs; it is made
// once whatever was queued before it has run to its end.
class HeldBlockingPool {
public:
    HeldBlockingPool();
    ~HeldBlockingPool();
    HeldBlockingPool(const HeldBlockingPool&) = delete;
    HeldBlockingPool& operator=(const HeldBlockingPool&) = delete;

private:
    struct Barrier;
    std::shared_ptr<Barrier> barrier_;
};

// Returns once every blocking call queued before it has finished, so a test can end without work
// that would still post to its main actor.
void finishBlockingWork();

} // namespace Testing
