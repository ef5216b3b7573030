#include "net/reach/TailscaleAddress.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

namespace TessaloyNet::TailscaleAddress {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto isBlank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// A decimal piece from 0 to 255; a sign is allowed, as the address texts' parser allows it.
bool isOctet(std::string_view piece, int& value) {
    if (piece.starts_with('+')) piece.remove_prefix(1);
    const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    return !piece.empty() && error == std::errc() && end == piece.data() + piece.size() && value >= 0 && value <= 255;
}

bool isSharedIPv4(std::string_view host) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t dot = host.find('.', start);
        pieces.push_back(host.substr(start, dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (pieces.size() != 4) return false;
    int octets[4] = {};
    for (std::size_t index = 0; index < 4; ++index) {
        if (!isOctet(pieces[index], octets[index])) return false;
    }
    return octets[0] == 100 && (octets[1] & ~0x3F) == 64;
}

} // namespace

std::string_view hostPart(std::string_view text) {
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close != std::string_view::npos) return text.substr(1, close - 1);
    }
    if (std::count(text.begin(), text.end(), ':') == 1) return text.substr(0, text.find(':'));
    return text;
}

bool isTailscale(std::string_view text) {
    std::string host(hostPart(trimmed(text)));
    std::transform(host.begin(), host.end(), host.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    if (host.find(':') != std::string::npos) return host.starts_with("fd7a:115c:a1e0:");
    return isSharedIPv4(host);
}

} // namespace TessaloyNet::TailscaleAddress
