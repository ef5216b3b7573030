#pragma once

#include "core/Bytes.h"

#include <cstddef>

namespace TessaloyNet {

// Bytes from the system's cryptographic generator. Throws std::runtime_error if it fails.
TessaloyCore::Bytes randomBytes(std::size_t count);

} // namespace TessaloyNet
