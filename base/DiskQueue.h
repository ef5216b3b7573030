#pragma once

#include "base/BlockingQueue.h"

#include <functional>
#include <memory>
#include <string>

namespace TessaloyBase {

// Where the stores write their files. A store keeps what it holds in memory and hands each save of
// a file here, so that whoever changed it never waits for the disk: saves run one at a time, in the
// order they were handed over, on the blocking pool. A save that throws is reported with the name of
// its file. Copies share the one queue.
class DiskQueue {
public:
    // The file that could not be saved, and why.
    using Failure = std::function<void(const std::string& file, const std::string& problem)>;

    // One file that a store saves whole each time. A save still waiting when the next one comes is
    // replaced by it: a store that changes faster than the disk writes has one save waiting at most,
    // and the file ends as the store's last save. Copies share the file.
    class File {
    public:
        // `write` writes the whole file, on the queue; what it throws is reported.
        void save(std::function<void()> write) const;

    private:
        friend class DiskQueue;
        struct State;
        explicit File(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::shared_ptr<State> state_;
    };

    DiskQueue();
    // Saves run at once, on the caller's thread: for tools and tests that fill a store before anything
    // else reads it.
    static DiskQueue inPlace();

    // Where failed saves are reported from now on, on the queue.
    void reportFailures(Failure failure) const;
    // `name` names the file in failure reports.
    File file(std::string name) const;
    // The queue the saves run on: work posted to it runs after every save handed over before.
    const BlockingQueue& queue() const;
    // Waits until every save handed over has run: for tests and shutdown. Aborts on the blocking pool.
    void drain() const;

private:
    struct Shared;
    explicit DiskQueue(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    std::shared_ptr<Shared> shared_;
};

} // namespace TessaloyBase
