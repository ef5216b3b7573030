#include "core/Encoding.h"

namespace TessaloyCore {
namespace {

constexpr std::string_view standardAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view urlAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string encode(ByteView bytes, std::string_view alphabet, bool pad) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = std::uint32_t{bytes[i]} << 16 | std::uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out += alphabet[group >> shift & 0x3F];
    }
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (left == 2) group |= std::uint32_t{bytes[i + 1]} << 8;
        out += alphabet[group >> 18 & 0x3F];
        out += alphabet[group >> 12 & 0x3F];
        if (left == 2) out += alphabet[group >> 6 & 0x3F];
        if (pad) out.append(3 - left, '=');
    }
    return out;
}

int valueOf(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+' || c == '-') return 62;
    if (c == '/' || c == '_') return 63;
    return -1;
}

} // namespace

std::vector<std::string> hexBytes(ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::vector<std::string> out;
    out.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) out.push_back({digits[byte >> 4], digits[byte & 0x0F]});
    return out;
}

std::string hexString(ByteView bytes) {
    std::string out;
    for (const auto& pair : hexBytes(bytes)) out += pair;
    return out;
}

std::string base64(ByteView bytes) { return encode(bytes, standardAlphabet, true); }

std::string base64Url(ByteView bytes) { return encode(bytes, urlAlphabet, false); }

std::optional<Bytes> decodeBase64(std::string_view text) {
    while (!text.empty() && text.back() == '=') text.remove_suffix(1);
    if (text.size() % 4 == 1) return std::nullopt;
    Bytes out;
    out.reserve(text.size() * 3 / 4);
    std::uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        const int value = valueOf(c);
        if (value < 0) return std::nullopt;
        group = group << 6 | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(group >> bits));
        }
    }
    // Leftover bits must be zero, so every text has one decoding.
    if ((group & ((1u << bits) - 1)) != 0) return std::nullopt;
    return out;
}

} // namespace TessaloyCore
