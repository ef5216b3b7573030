#pragma once

#include <cstddef>
#include <string_view>

namespace TessaloyCore {

// Text functions for names typed by people or taken from peers. All expect well-formed UTF-8
// (isValidUtf8).

// Unicode White_Space: U+0009...U+000D, U+0085 and the space, no-break, typographic, line and
// paragraph separators.
bool isUnicodeWhiteSpace(char32_t scalar) noexcept;

// The first `maximum` Unicode scalar values of `text` (all of it when it is shorter).
std::string_view leadingScalars(std::string_view text, std::size_t maximum) noexcept;

// The first `maximum` characters (extended grapheme clusters) of `text`, so that no flag, family
// emoji or accented letter is split, and no more of them than fit whole in `maximumBytes` bytes: one
// character may carry any number of combining marks. Throws std::runtime_error when Unicode's data
// cannot be used.
std::string_view leadingCharacters(std::string_view text, std::size_t maximum,
                                   std::size_t maximumBytes = std::string_view::npos);

// The longest start of `text` that holds whole characters and at most `maximumBytes` bytes.
std::string_view leadingBytes(std::string_view text, std::size_t maximumBytes) noexcept;

// `text` without leading and trailing white space and line breaks.
std::string_view trimmingWhitespace(std::string_view text) noexcept;

} // namespace TessaloyCore
