#include "base/SerialQueue.h"

#include "base/BlockingQueue.h"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/thread_pool.hpp>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace TessaloyBase {
namespace {

// The process's threads: the shared I/O threads of every serial queue, and the pool for blocking
// work. Either may hand work to the other up to the very end: the blocking pool stops first, while
// the queues still run for work that waits on them, and neither is destroyed before every thread
// has ended.
class Pools {
public:
    Pools() : guard_(asio::make_work_guard(context_)) {
        const unsigned count = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
        for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { context_.run(); });
    }
    ~Pools() {
        blocking_.stop();
        blocking_.join();
        guard_.reset();
        context_.stop();
        for (auto& thread : threads_) {
            // exit() may be called from a handler: that thread cannot wait for itself.
            if (thread.get_id() == std::this_thread::get_id()) {
                thread.detach();
            } else {
                thread.join();
            }
        }
    }
    asio::io_context& context() { return context_; }
    asio::thread_pool& blocking() { return blocking_; }

    std::function<void()> counted(std::function<void()> work) {
        {
            const std::lock_guard guard(lock_);
            ++pending_;
        }
        return [this, work = std::move(work)] {
            // Counted down also when the work throws.
            struct Ended {
                Pools* pools;
                ~Ended() { pools->ended(); }
            } const ended{this};
            work();
        };
    }
    bool waitForBlockingWork(std::chrono::steady_clock::duration patience) {
        std::unique_lock guard(lock_);
        return idle_.wait_for(guard, patience, [this] { return pending_ == 0; });
    }

private:
    void ended() {
        const std::lock_guard guard(lock_);
        if (--pending_ == 0) idle_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable idle_;
    std::size_t pending_ = 0;
    asio::thread_pool blocking_{blockingThreads};
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_;
    std::vector<std::thread> threads_;
};

Pools& pools() {
    static Pools made;
    return made;
}

} // namespace

asio::io_context& sharedIoContext() { return pools().context(); }

void runBlocking(std::function<void()> work) { asio::post(pools().blocking(), countedBlockingWork(std::move(work))); }

std::function<void()> countedBlockingWork(std::function<void()> work) { return pools().counted(std::move(work)); }

bool waitForBlockingWork(std::chrono::steady_clock::duration patience) { return pools().waitForBlockingWork(patience); }

asio::thread_pool& sharedBlockingPool() { return pools().blocking(); }

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), strand_(asio::make_strand(sharedIoContext())) {}

void SerialQueue::async(std::function<void()> work) { asio::post(strand_, std::move(work)); }

bool SerialQueue::isCurrent() const { return strand_.running_in_this_thread(); }

void SerialQueue::assertOffPool() const {
#ifndef NDEBUG
    if (!sharedIoContext().get_executor().running_in_this_thread()) return;
    std::fprintf(stderr, "waited for the queue \"%s\" on an I/O thread\n", label_.c_str());
    std::abort();
#endif
}

void SerialQueue::assertCurrent() const {
    if (isCurrent()) return;
    std::fprintf(stderr, "called off its queue \"%s\"\n", label_.c_str());
    std::abort();
}

} // namespace TessaloyBase
