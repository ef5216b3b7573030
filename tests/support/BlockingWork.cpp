#include "tests/support/BlockingWork.h"

#include "base/SerialQueue.h"

#include <latch>

namespace Testing {

// The pool takes work in order: once a barrier holds every one of its threads, whatever was queued
// before has run to its end.
struct HeldBlockingPool::Barrier {
    std::latch allHeld{TessaloyBase::blockingThreads + 1};
    std::latch release{1};
};

HeldBlockingPool::HeldBlockingPool() : barrier_(std::make_shared<Barrier>()) {
    for (int thread = 0; thread < TessaloyBase::blockingThreads; ++thread) {
        TessaloyBase::runBlocking([barrier = barrier_] {
            barrier->allHeld.count_down();
            barrier->release.wait();
        });
    }
    barrier_->allHeld.arrive_and_wait();
}

HeldBlockingPool::~HeldBlockingPool() { barrier_->release.count_down(); }

void finishBlockingWork() { const HeldBlockingPool held; }

} // namespace Testing
