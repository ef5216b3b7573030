#include "base/SerialQueue.h"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/thread_pool.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace TessaloyBase {
namespace {

class IoPool {
public:
    IoPool() : guard_(asio::make_work_guard(context_)) {
        const unsigned count = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
        for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { context_.run(); });
    }
    ~IoPool() {
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

private:
    asio::io_context context_;
    asio::executor_work_guard<asio::io_context::executor_type> guard_;
    std::vector<std::thread> threads_;
};

} // namespace

asio::io_context& sharedIoContext() {
    static IoPool pool;
    return pool.context();
}

void runBlocking(std::function<void()> work) {
    static asio::thread_pool pool(blockingThreads);
    asio::post(pool, std::move(work));
}

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), strand_(asio::make_strand(sharedIoContext())) {}

void SerialQueue::async(std::function<void()> work) { asio::post(strand_, std::move(work)); }

bool SerialQueue::isCurrent() const { return strand_.running_in_this_thread(); }

void SerialQueue::assertCurrent() const {
    if (isCurrent()) return;
    std::fprintf(stderr, "called off its queue \"%s\"\n", label_.c_str());
    std::abort();
}

} // namespace TessaloyBase
