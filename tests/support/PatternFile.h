#pragma once

#include <cstdint>
#include <filesystem>

namespace Testing {

// Writes `size` bytes to `file` that differ from one position to the next (a xorshift sequence
// from `seed`), so that a misplaced chunk cannot go unnoticed and nothing compresses them.
void writePatternFile(const std::filesystem::path& file, std::uint64_t size, std::uint64_t seed);

} // namespace Testing
