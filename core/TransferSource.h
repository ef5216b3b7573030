#pragma once

#include "core/Bytes.h"

#include <cstddef>
#include <cstdint>

namespace TessaloyCore {

// Where the bytes of an outgoing transfer come from, read once from the start. Used by one
// OutgoingTransfer at a time, from whichever thread drives it.
class TransferSource {
public:
    virtual ~TransferSource() = default;

    // The next bytes, at most `maximumBytes` of them; empty at the end. Throws when reading fails.
    virtual Bytes read(std::size_t maximumBytes) = 0;
    // The number of bytes the source held when it was opened.
    virtual std::uint64_t size() const = 0;
    // Releases what the source holds; errors are ignored. Reads after close() may fail.
    virtual void close() noexcept = 0;
};

} // namespace TessaloyCore
