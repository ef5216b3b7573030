#pragma once

#include "core/CaseError.h"

namespace TessaloyCore {

// Why a packet header was refused; all of them are decided from the 12 header bytes alone.
enum class WireErrorCase { badMagic, unsupportedVersion, unknownKind, reservedBytesNotZero, payloadTooLarge };

const char* nameOf(WireErrorCase value) noexcept;
// The sentence for the user.
const char* descriptionOf(WireErrorCase value) noexcept;

using WireError = CaseError<WireErrorCase>;

} // namespace TessaloyCore
