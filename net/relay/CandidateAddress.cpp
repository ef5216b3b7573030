#include "net/relay/CandidateAddress.h"

#include <charconv>
#include <string>

namespace TessaloyNet {

namespace {

std::optional<std::uint16_t> port(std::string_view digits) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || value == 0 || value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<asio::ip::address> address(std::string_view text) {
    std::error_code error;
    const auto parsed = asio::ip::make_address(std::string(text), error);
    if (error) return std::nullopt;
    return parsed;
}

} // namespace

std::optional<asio::ip::tcp::endpoint> candidateEndpoint(std::string_view text, std::uint16_t defaultPort) {
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        const auto host = address(text.substr(1, close - 1));
        if (!host || !host->is_v6()) return std::nullopt;
        const std::string_view rest = text.substr(close + 1);
        if (rest.empty()) return asio::ip::tcp::endpoint(*host, defaultPort);
        if (!rest.starts_with(':')) return std::nullopt;
        const auto number = port(rest.substr(1));
        if (!number) return std::nullopt;
        return asio::ip::tcp::endpoint(*host, *number);
    }
    if (const auto bare = address(text)) return asio::ip::tcp::endpoint(*bare, defaultPort);
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto host = address(text.substr(0, colon));
    const auto number = port(text.substr(colon + 1));
    if (!host || !host->is_v4() || !number) return std::nullopt;
    return asio::ip::tcp::endpoint(*host, *number);
}

} // namespace TessaloyNet
