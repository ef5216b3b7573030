#pragma once

#include <asio/io_context.hpp>
#include <asio/strand.hpp>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <type_traits>

namespace TessaloyBase {

// A labelled serial queue: work posted to it runs one item at a time, in order, on the shared I/O
// thread pool. Asio objects bound to the queue use `executor()`.
class SerialQueue {
public:
    using Executor = asio::strand<asio::io_context::executor_type>;

    explicit SerialQueue(std::string label);
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }
    const Executor& executor() const { return strand_; }

    // Runs `work` later on the queue. Safe from any thread.
    void async(std::function<void()> work);

    // Runs `work` on the queue and waits for its result (or rethrows its exception): for tests and
    // shutdown. On the queue itself, `work` runs in place. Never from another queue's work, which
    // would hold an I/O thread waiting for work that may need that very thread: debug builds abort.
    template <typename Work>
    auto sync(Work&& work) -> std::invoke_result_t<Work&> {
        if (isCurrent()) return work();
        assertOffPool();
        std::packaged_task<std::invoke_result_t<Work&>()> task(std::forward<Work>(work));
        auto result = task.get_future();
        asio::post(strand_, [&task] { task(); });
        return result.get();
    }

    bool isCurrent() const;
    // Aborts when the caller is not on this queue: objects bound to a queue check every entry point.
    void assertCurrent() const;

private:
    void assertOffPool() const;

    std::string label_;
    Executor strand_;
};

// The process-wide pool behind every serial queue. Its threads run until the process ends.
asio::io_context& sharedIoContext();

// A pool for blocking work (child processes, blocking pumps, file staging), kept off the I/O threads.
void runBlocking(std::function<void()> work);
// Waits until no blocking work runs or waits to run (that of blocking queues included), for
// `patience` at most; true when none is left. For shutdown: what that work uses may go only then.
bool waitForBlockingWork(std::chrono::steady_clock::duration patience);
// How many blocking calls run at once.
inline constexpr int blockingThreads = 4;

} // namespace TessaloyBase
