#pragma once

#include <asio/strand.hpp>
#include <asio/thread_pool.hpp>

#include <functional>
#include <string>

namespace TessaloyBase {

// A labelled serial queue for blocking work (file writes, flushes, hashing): work posted to it runs
// one item at a time, in order, on the blocking pool, so it never holds an I/O thread. Copies share
// the one queue, so work may hold a copy that outlives the owner.
class BlockingQueue {
public:
    explicit BlockingQueue(std::string label);

    const std::string& label() const { return label_; }

    // Runs `work` later on the queue. Safe from any thread.
    void async(std::function<void()> work) const;
    // Waits until everything posted before has run. For tests and shutdown; aborts on a thread of
    // the blocking pool, which could be waiting for itself.
    void drain() const;
    bool isCurrent() const;

private:
    std::string label_;
    asio::strand<asio::thread_pool::executor_type> strand_;
};

// The pool behind runBlocking(), which these queues share.
asio::thread_pool& sharedBlockingPool();
// `work` counted as blocking work from now until it has run (see waitForBlockingWork()).
std::function<void()> countedBlockingWork(std::function<void()> work);

} // namespace TessaloyBase
