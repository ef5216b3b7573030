#pragma once

#include "platform/MemoryAllocator.h"

namespace Platform::Linux {

// glibc's malloc, held to `arenaLimit` arenas; a release trims every arena.
class GlibcMemoryAllocator final : public MemoryAllocator {
public:
    static constexpr int arenaLimit = 2;

    GlibcMemoryAllocator();

    void releaseFreed() override;
};

} // namespace Platform::Linux
