#pragma once

#include <memory>

namespace Platform {

// The process's memory allocator. Any thread.
class MemoryAllocator {
public:
    // The first one made keeps the allocator to a few pools from then on: memory freed by a
    // session's many threads then gathers where a release finds it, instead of staying behind in a
    // pool per thread. Make it at start-up, before the threads.
    static std::unique_ptr<MemoryAllocator> create();

    virtual ~MemoryAllocator() = default;

    // Hands memory that was freed back to the system; the allocator would otherwise keep it for later.
    virtual void releaseFreed() = 0;
};

} // namespace Platform
