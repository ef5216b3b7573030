#include "core/TransferOffer.h"

#include <string_view>

namespace TessaloyCore {
namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

// The length of the well-formed UTF-8 sequence at the start of `text` and its scalar, or 0 when
// the first byte does not start one.
std::size_t decodeOne(std::string_view text, char32_t& scalar) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
        scalar = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if ((next & 0xC0) != 0x80) return 0;
        value = value << 6 | (next & 0x3F);
    }
    const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (overlong || surrogate || value > 0x10FFFF) return 0;
    scalar = value;
    return length;
}

// Each byte that does not start a well-formed sequence becomes one U+FFFD.
std::u32string scalarsOf(std::string_view text) {
    std::u32string scalars;
    scalars.reserve(text.size());
    while (!text.empty()) {
        char32_t scalar = 0;
        const std::size_t length = decodeOne(text, scalar);
        scalars.push_back(length == 0 ? replacementCharacter : scalar);
        text.remove_prefix(length == 0 ? 1 : length);
    }
    return scalars;
}

std::size_t utf8Length(char32_t scalar) {
    if (scalar < 0x80) return 1;
    if (scalar < 0x800) return 2;
    if (scalar < 0x10000) return 3;
    return 4;
}

void appendUtf8(std::string& text, char32_t scalar) {
    switch (utf8Length(scalar)) {
        case 1:
            text.push_back(static_cast<char>(scalar));
            break;
        case 2:
            text.push_back(static_cast<char>(0xC0 | scalar >> 6));
            text.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
            break;
        case 3:
            text.push_back(static_cast<char>(0xE0 | scalar >> 12));
            text.push_back(static_cast<char>(0x80 | (scalar >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
            break;
        default:
            text.push_back(static_cast<char>(0xF0 | scalar >> 18));
            text.push_back(static_cast<char>(0x80 | (scalar >> 12 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (scalar >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
            break;
    }
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

// Unicode White_Space, without the control characters removed before.
bool isWhiteSpace(char32_t c) {
    return c == U' ' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

} // namespace

std::string TransferOffer::safeFileName() const {
    std::u32string scalars;
    for (const char32_t c : scalarsOf(name)) {
        if (!isRemoved(c)) scalars.push_back(c);
    }

    std::size_t start = 0;
    while (start < scalars.size() &&
           (scalars[start] == U'.' || scalars[start] == U'-' || isWhiteSpace(scalars[start]))) {
        ++start;
    }
    std::size_t end = scalars.size();
    while (end > start && isWhiteSpace(scalars[end - 1])) --end;
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
