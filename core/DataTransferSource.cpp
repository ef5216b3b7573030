#include "core/DataTransferSource.h"

#include <algorithm>

namespace TessaloyCore {

Bytes DataTransferSource::read(std::size_t maximumBytes) {
    const std::size_t count = std::min(maximumBytes, data_.size() - position_);
    const auto first = data_.begin() + static_cast<std::ptrdiff_t>(position_);
    Bytes bytes(first, first + static_cast<std::ptrdiff_t>(count));
    position_ += count;
    return bytes;
}

} // namespace TessaloyCore
