#include "base/DiskQueue.h"

#include <exception>
#include <mutex>
#include <utility>

namespace TessaloyBase {

struct DiskQueue::Shared {
    explicit Shared(bool inPlace) : inPlace(inPlace) {}

    void run(std::function<void()> work) const {
        if (inPlace) return work();
        queue.async(std::move(work));
    }
    void report(const std::string& file, const std::string& problem) {
        Failure failure;
        {
            std::lock_guard guard(lock);
            failure = this->failure;
        }
        if (failure) failure(file, problem);
    }

    const bool inPlace;
    const BlockingQueue queue{"dev.tessaloy.disk"};
    std::mutex lock;
    Failure failure;
};

struct DiskQueue::File::State {
    std::shared_ptr<DiskQueue::Shared> disk;
    std::string name;
    std::mutex lock;
    // The save to run next; empty while none waits.
    std::function<void()> waiting;
};

void DiskQueue::File::save(std::function<void()> write) const {
    {
        std::lock_guard guard(state_->lock);
        const bool queued = static_cast<bool>(state_->waiting);
        state_->waiting = std::move(write);
        if (queued) return;
    }
    state_->disk->run([state = state_] {
        std::function<void()> next;
        {
            std::lock_guard guard(state->lock);
            next = std::exchange(state->waiting, nullptr);
        }
        try {
            next();
        } catch (const std::exception& error) {
            state->disk->report(state->name, error.what());
        }
    });
}

DiskQueue::DiskQueue() : shared_(std::make_shared<Shared>(false)) {}

DiskQueue DiskQueue::inPlace() { return DiskQueue(std::make_shared<Shared>(true)); }

void DiskQueue::reportFailures(Failure failure) const {
    std::lock_guard guard(shared_->lock);
    shared_->failure = std::move(failure);
}

DiskQueue::File DiskQueue::file(std::string name) const {
    auto state = std::make_shared<File::State>();
    state->disk = shared_;
    state->name = std::move(name);
    return File(std::move(state));
}

const BlockingQueue& DiskQueue::queue() const { return shared_->queue; }

void DiskQueue::drain() const { shared_->queue.drain(); }

} // namespace TessaloyBase
