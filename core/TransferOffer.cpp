#include "core/TransferOffer.h"

#include "core/UnicodeText.h"
#include "core/Utf8.h"

#include <string_view>

namespace TessaloyCore {
namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

// Each byte that does not start a well-formed sequence becomes one U+FFFD.
std::u32string scalarsOf(std::string_view text) {
    std::u32string scalars;
    scalars.reserve(text.size());
    while (!text.empty()) {
        char32_t scalar = 0;
        const std::size_t length = decodeUtf8Scalar(text, scalar);
        scalars.push_back(length == 0 ? replacementCharacter : scalar);
        text.remove_prefix(length == 0 ? 1 : length);
    }
    return scalars;
}

// Control characters, path separators, and the formatting characters that can make a name read
// differently from how it is stored ("evil\u202Egpj.exe" showing as "evilexe.jpg").
bool isRemoved(char32_t c) {
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    const bool separator = c == U'/' || c == U'\\' || c == U':';
    const bool bidirectional =
        c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    return control || separator || bidirectional;
}

} // namespace

std::string TransferOffer::safeFileName() const {
    std::u32string scalars;
    for (const char32_t c : scalarsOf(name)) {
        if (!isRemoved(c)) scalars.push_back(c);
    }

    std::size_t start = 0;
    while (start < scalars.size() &&
           (scalars[start] == U'.' || scalars[start] == U'-' || isUnicodeWhiteSpace(scalars[start]))) {
        ++start;
    }
    std::size_t end = scalars.size();
    while (end > start && isUnicodeWhiteSpace(scalars[end - 1])) --end;
    if (start == end) return "Received file";

    std::size_t bytes = 0;
    for (std::size_t i = start; i < end; ++i) bytes += utf8Length(scalars[i]);
    while (bytes > maximumSafeFileNameBytes) {
        --end;
        bytes -= utf8Length(scalars[end]);
    }

    std::string result;
    result.reserve(bytes);
    for (std::size_t i = start; i < end; ++i) appendUtf8(result, scalars[i]);
    return result;
}

} // namespace TessaloyCore
