#include "core/UnicodeText.h"

#include "core/Utf8.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace TessaloyCore {
namespace {

bool isContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The scalar whose encoding starts at `offset` (U+FFFD for a broken sequence) and its length.
std::pair<char32_t, std::size_t> scalarAt(std::string_view text, std::size_t offset) {
    char32_t scalar = 0xFFFD;
    const std::size_t length = decodeUtf8Scalar(text.substr(offset), scalar);
    return {scalar, length == 0 ? 1 : length};
}

} // namespace

bool isUnicodeWhiteSpace(char32_t scalar) noexcept {
    return (scalar >= 0x09 && scalar <= 0x0D) || scalar == 0x20 || scalar == 0x85 || scalar == 0xA0 ||
           scalar == 0x1680 || (scalar >= 0x2000 && scalar <= 0x200A) || scalar == 0x2028 || scalar == 0x2029 ||
           scalar == 0x202F || scalar == 0x205F || scalar == 0x3000;
}

std::string_view leadingScalars(std::string_view text, std::size_t maximum) noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isContinuation(text[i]) && count++ == maximum) return text.substr(0, i);
    }
    return text;
}

std::string_view leadingCharacters(std::string_view text, std::size_t maximum, std::size_t maximumBytes) {
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UText, decltype(&utext_close)> utf8(
        utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status), utext_close);
    const std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> characters(
        ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status), ubrk_close);
    ubrk_setUText(characters.get(), utf8.get(), &status);
    if (U_FAILURE(status)) throw std::runtime_error(std::string("no character boundaries: ") + u_errorName(status));
    // Boundaries of UTF-8 text are byte offsets.
    std::int32_t end = ubrk_first(characters.get());
    for (std::size_t count = 0; count < maximum; ++count) {
        const std::int32_t next = ubrk_next(characters.get());
        if (next == UBRK_DONE) return text;
        if (static_cast<std::size_t>(next) > maximumBytes) break;
        end = next;
    }
    return text.substr(0, static_cast<std::size_t>(end));
}

std::string_view leadingBytes(std::string_view text, std::size_t maximumBytes) noexcept {
    if (text.size() <= maximumBytes) return text;
    std::size_t end = maximumBytes;
    while (end > 0 && isContinuation(text[end])) --end;
    return text.substr(0, end);
}

std::string_view trimmingWhitespace(std::string_view text) noexcept {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto [scalar, length] = scalarAt(text, begin);
        if (!isUnicodeWhiteSpace(scalar)) break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && isContinuation(text[start])) --start;
        if (!isUnicodeWhiteSpace(scalarAt(text, start).first)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

} // namespace TessaloyCore
