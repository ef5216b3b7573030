#include "tests/support/BlockingWork.h"

#include "base/SerialQueue.h"

#include <latch>
#include <memory>

namespace Testing {

void finishBlockingWork() {
    // The pool takes work in order: once a barrier holds every one of its threads, whatever was
    // queued before has run to its end.
    struct Barrier {
        std::latch allHeld{TessaloyBase::blockingThreads + 1};
        std::latch release{1};
    };
    const auto barrier = std::make_shared<Barrier>();
    for (int thread = 0; thread < TessaloyBase::blockingThreads; ++thread) {
        TessaloyBase::runBlocking([barrier] {
            barrier->allHeld.count_down();
            barrier->release.wait();
        });
    }
    barrier->allHeld.arrive_and_wait();
    barrier->release.count_down();
}

} // namespace Testing
