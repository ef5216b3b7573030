#include "core/TransferCancelReason.h"

namespace TessaloyCore {

const char* nameOf(TransferCancelReason reason) noexcept {
    switch (reason) {
        case TransferCancelReason::cancelled:
            return "cancelled";
        case TransferCancelReason::notAllowed:
            return "notAllowed";
        case TransferCancelReason::tooLarge:
            return "tooLarge";
        case TransferCancelReason::failed:
            return "failed";
    }
    return "unknown";
}

std::optional<TransferCancelReason> transferCancelReasonFromByte(std::uint8_t byte) noexcept {
    if (byte >= 1 && byte <= 4) return static_cast<TransferCancelReason>(byte);
    return std::nullopt;
}

} // namespace TessaloyCore
