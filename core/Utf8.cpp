#include "core/Utf8.h"

namespace TessaloyCore {

std::size_t decodeUtf8Scalar(std::string_view text, char32_t& scalar) noexcept {
    if (text.empty()) return 0;
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

bool isValidUtf8(std::string_view text) noexcept {
    while (!text.empty()) {
        char32_t scalar = 0;
        const std::size_t length = decodeUtf8Scalar(text, scalar);
        if (length == 0) return false;
        text.remove_prefix(length);
    }
    return true;
}

std::size_t scalarCount(std::string_view text) noexcept {
    std::size_t count = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

std::size_t utf8Length(char32_t scalar) noexcept {
    if (scalar < 0x80) return 1;
    if (scalar < 0x800) return 2;
    if (scalar < 0x10000) return 3;
    return 4;
}

void appendUtf8(std::string& text, char32_t scalar) {
    const std::size_t length = utf8Length(scalar);
    if (length == 1) {
        text.push_back(static_cast<char>(scalar));
        return;
    }
    static constexpr unsigned char leads[] = {0, 0, 0xC0, 0xE0, 0xF0};
    text.push_back(static_cast<char>(leads[length] | scalar >> (6 * (length - 1))));
    for (std::size_t shift = 6 * (length - 1); shift > 0; shift -= 6) {
        text.push_back(static_cast<char>(0x80 | (scalar >> (shift - 6) & 0x3F)));
    }
}

} // namespace TessaloyCore
