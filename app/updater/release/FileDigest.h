#pragma once

#include "core/Sha256.h"

#include <filesystem>
#include <string>

namespace Plovander {

// Lower-case hexadecimal, two digits per byte.
std::string sha256Hex(const TessaloyCore::Sha256::Digest& digest);

// The SHA-256 of everything read from `fd` from its current offset to its end. Throws
// std::system_error on a read error.
TessaloyCore::Sha256::Digest descriptorDigest(int fd);

// The SHA-256 of a whole file, not following a final link. Throws std::filesystem::filesystem_error.
std::string fileSha256Hex(const std::filesystem::path& file);

} // namespace Plovander
