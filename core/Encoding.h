#pragma once

#include "core/Bytes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace TessaloyCore {

// Each byte as two lower-case hexadecimal digits, one text per byte.
std::vector<std::string> hexBytes(ByteView bytes);
// All bytes as one lower-case hexadecimal text.
std::string hexString(ByteView bytes);

// Standard base64 with padding.
std::string base64(ByteView bytes);
// URL-safe base64 without padding.
std::string base64Url(ByteView bytes);
// Decodes standard or URL-safe base64, padded or not; nullopt for anything else.
std::optional<Bytes> decodeBase64(std::string_view text);

} // namespace TessaloyCore
