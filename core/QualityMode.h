#pragma once

#include <cstdint>
#include <optional>

namespace TessaloyCore {

// The user's streaming preference.
enum class QualityMode : std::uint8_t { full = 1, saver = 2, balanced = 3 };

// "full", "saver" or "balanced".
const char* nameOf(QualityMode mode) noexcept;
// The mode of a wire byte; nullopt for any other byte.
std::optional<QualityMode> qualityModeFromByte(std::uint8_t byte) noexcept;

} // namespace TessaloyCore
