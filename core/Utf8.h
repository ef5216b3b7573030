#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace TessaloyCore {

// The length of the well-formed UTF-8 sequence at the start of `text` (no overlong forms, no
// surrogates, nothing above U+10FFFF) with its scalar in `scalar`; 0 when none starts there.
std::size_t decodeUtf8Scalar(std::string_view text, char32_t& scalar) noexcept;

bool isValidUtf8(std::string_view text) noexcept;
// The number of Unicode scalar values in well-formed UTF-8.
std::size_t scalarCount(std::string_view text) noexcept;

std::size_t utf8Length(char32_t scalar) noexcept;
void appendUtf8(std::string& text, char32_t scalar);

} // namespace TessaloyCore
