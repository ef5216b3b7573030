#include "core/TransferPurpose.h"

namespace TessaloyCore {

const char* nameOf(TransferPurpose purpose) noexcept {
    switch (purpose) {
        case TransferPurpose::clipboard:
            return "clipboard";
        case TransferPurpose::file:
            return "file";
    }
    return "unknown";
}

std::optional<TransferPurpose> transferPurposeFromByte(std::uint8_t byte) noexcept {
    if (byte == 1 || byte == 2) return static_cast<TransferPurpose>(byte);
    return std::nullopt;
}

std::uint64_t maximumSize(TransferPurpose purpose) noexcept {
    switch (purpose) {
        case TransferPurpose::clipboard:
            return 26'214'400;
        case TransferPurpose::file:
            return 1'073'741'824;
    }
    return 0;
}

} // namespace TessaloyCore
