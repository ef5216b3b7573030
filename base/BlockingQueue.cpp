#include "base/BlockingQueue.h"

#include <asio/post.hpp>

#include <cstdio>
#include <cstdlib>
#include <future>

namespace TessaloyBase {

BlockingQueue::BlockingQueue(std::string label)
    : label_(std::move(label)), strand_(asio::make_strand(sharedBlockingPool())) {}

void BlockingQueue::async(std::function<void()> work) const {
    asio::post(strand_, countedBlockingWork(std::move(work)));
}

void BlockingQueue::drain() const {
    if (sharedBlockingPool().get_executor().running_in_this_thread()) {
        std::fprintf(stderr, "waited for \"%s\" on the blocking pool\n", label_.c_str());
        std::abort();
    }
    std::promise<void> done;
    asio::post(strand_, [&done] { done.set_value(); });
    done.get_future().wait();
}

bool BlockingQueue::isCurrent() const { return strand_.running_in_this_thread(); }

} // namespace TessaloyBase
