#include "platform/linux/GlibcMemoryAllocator.h"

#include <malloc.h>

#include <mutex>

namespace Platform {

std::unique_ptr<MemoryAllocator> MemoryAllocator::create() { return std::make_unique<Linux::GlibcMemoryAllocator>(); }

namespace Linux {

GlibcMemoryAllocator::GlibcMemoryAllocator() {
    static std::once_flag limited;
    std::call_once(limited, [] { ::mallopt(M_ARENA_MAX, arenaLimit); });
}

void GlibcMemoryAllocator::releaseFreed() { ::malloc_trim(0); }

} // namespace Linux
} // namespace Platform
