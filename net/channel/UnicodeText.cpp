#include "net/channel/UnicodeText.h"

#include <cstdint>

namespace TessaloyNet {
namespace {

bool isContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The scalar value whose encoding starts at `offset`, and the length of that encoding.
std::pair<std::uint32_t, std::size_t> scalarAt(std::string_view text, std::size_t offset) {
    const auto lead = static_cast<unsigned char>(text[offset]);
    std::size_t length = 1;
    std::uint32_t scalar = lead;
    if (lead >= 0xF0) {
        length = 4;
        scalar = lead & 0x07;
    } else if (lead >= 0xE0) {
        length = 3;
        scalar = lead & 0x0F;
    } else if (lead >= 0xC0) {
        length = 2;
        scalar = lead & 0x1F;
    }
    for (std::size_t k = 1; k < length && offset + k < text.size(); ++k) {
        scalar = scalar << 6 | (static_cast<unsigned char>(text[offset + k]) & 0x3F);
    }
    return {scalar, length};
}

bool isWhitespace(std::uint32_t scalar) {
    return (scalar >= 0x09 && scalar <= 0x0D) || scalar == 0x20 || scalar == 0x85 || scalar == 0xA0 ||
           scalar == 0x1680 || (scalar >= 0x2000 && scalar <= 0x200A) || scalar == 0x2028 || scalar == 0x2029 ||
           scalar == 0x202F || scalar == 0x205F || scalar == 0x3000;
}

} // namespace

std::string_view leadingScalars(std::string_view text, std::size_t maximum) noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!isContinuation(text[i]) && count++ == maximum) return text.substr(0, i);
    }
    return text;
}

std::string_view trimmingWhitespace(std::string_view text) noexcept {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto [scalar, length] = scalarAt(text, begin);
        if (!isWhitespace(scalar)) break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && isContinuation(text[start])) --start;
        if (!isWhitespace(scalarAt(text, start).first)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

} // namespace TessaloyNet
