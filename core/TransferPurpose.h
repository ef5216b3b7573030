#pragma once

#include <cstdint>
#include <optional>

namespace TessaloyCore {

// What a transfer carries: clipboard contents or a file; one byte on the wire.
enum class TransferPurpose : std::uint8_t { clipboard = 1, file = 2 };

// "clipboard" or "file".
const char* nameOf(TransferPurpose purpose) noexcept;
// The purpose of a wire byte; nullopt for any other byte.
std::optional<TransferPurpose> transferPurposeFromByte(std::uint8_t byte) noexcept;
// The largest declared size a receiver accepts: 26,214,400 bytes for clipboard contents,
// 1,073,741,824 for a file.
std::uint64_t maximumSize(TransferPurpose purpose) noexcept;

} // namespace TessaloyCore
