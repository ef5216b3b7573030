#include "net/portmap/AddressKind.h"

#include <charconv>
#include <cstdint>
#include <vector>

namespace TessaloyNet {

bool AddressKind::isPublicIPv4(std::string_view text) {
    std::vector<unsigned> parts;
    while (!text.empty()) {
        const auto dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        std::uint8_t value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (!part.empty() && error == std::errc() && end == part.data() + part.size()) parts.push_back(value);
        text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    }
    if (parts.size() != 4) return false;
    const unsigned a = parts[0];
    const unsigned b = parts[1];
    if (a == 0 || a == 10 || a == 127 || a >= 224) return false;
    if (a == 100 && b >= 64 && b <= 127) return false;
    if (a == 169 && b == 254) return false;
    if (a == 172 && b >= 16 && b <= 31) return false;
    return !(a == 192 && b == 168);
}

} // namespace TessaloyNet
