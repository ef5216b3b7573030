#pragma once

#include <cstddef>
#include <string_view>

namespace TessaloyNet {

// Text functions for names typed by people or taken from peers. All expect well-formed UTF-8
// (TessaloyCore::isValidUtf8).

// The first `maximum` Unicode scalar values of `text` (all of it when it is shorter).
std::string_view leadingScalars(std::string_view text, std::size_t maximum) noexcept;

// `text` without leading and trailing white space and line breaks: U+0009...U+000D, U+0085 and the
// separators (space, no-break and typographic spaces, line and paragraph separators).
std::string_view trimmingWhitespace(std::string_view text) noexcept;

} // namespace TessaloyNet
