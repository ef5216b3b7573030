#pragma once

#include <cstdint>
#include <optional>

namespace TessaloyCore {

// Why a transfer stopped before its finish; one byte on the wire.
enum class TransferCancelReason : std::uint8_t { cancelled = 1, notAllowed = 2, tooLarge = 3, failed = 4 };

// "cancelled", "notAllowed", "tooLarge" or "failed".
const char* nameOf(TransferCancelReason reason) noexcept;
// The reason of a wire byte; nullopt for any other byte.
std::optional<TransferCancelReason> transferCancelReasonFromByte(std::uint8_t byte) noexcept;

} // namespace TessaloyCore
