#include "net/relay/RelayEndpoint.h"

#include "core/Encoding.h"
#include "core/Utf8.h"

#include <cstdlib>
#include <vector>

namespace TessaloyNet {

using TessaloyCore::Bytes;

namespace {

constexpr std::size_t maximumHostBytes = 253;
constexpr std::size_t helloKeyBytes = 65;
constexpr std::size_t maximumTLSKeyBytes = 200;

// The relay service the product is deployed with; its private keys are kept with the service.
constexpr std::string_view hostedText =
    "relay.tessaloy.dev 443 "
    "BA+jjwoMbZQ+xRAeguVy+50b2qmbWwz5c2B347ZL4oX/9fG1Z9JBW7ZpGywlZYUHwgMhvjwLo/J27kHsh7PO3uo= "
    "BJNdOmKuMYs1/hUpmDZk57Soj2ldsfGAWvK6HJfCnXwGO9jXz/Y8LRvhaP4bS2lHUKbJz4Xcyt+S95/igzPJvQU=";

bool isWhitespace(char32_t scalar) {
    return (scalar >= 0x09 && scalar <= 0x0D) || scalar == 0x20 || scalar == 0x85 || scalar == 0xA0 ||
           scalar == 0x1680 || (scalar >= 0x2000 && scalar <= 0x200A) || scalar == 0x2028 || scalar == 0x2029 ||
           scalar == 0x202F || scalar == 0x205F || scalar == 0x3000;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> found;
    std::size_t start = 0;
    std::size_t offset = 0;
    while (offset < text.size()) {
        char32_t scalar = 0;
        const std::size_t length = TessaloyCore::decodeUtf8Scalar(text.substr(offset), scalar);
        if (length > 0 && isWhitespace(scalar)) {
            if (offset > start) found.push_back(text.substr(start, offset - start));
            offset += length;
            start = offset;
        } else {
            offset += length > 0 ? length : 1;
        }
    }
    if (offset > start) found.push_back(text.substr(start));
    return found;
}

std::optional<std::uint16_t> parsePort(std::string_view word) {
    bool negative = false;
    if (!word.empty() && (word.front() == '+' || word.front() == '-')) {
        negative = word.front() == '-';
        word.remove_prefix(1);
    }
    if (word.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (const char digit : word) {
        if (digit < '0' || digit > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(digit - '0');
        if (value > 0xFFFF) return std::nullopt;
    }
    if (negative && value != 0) return std::nullopt;
    if (value == 0) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// Standard alphabet, "=" padding, whole quanta only.
std::optional<Bytes> decodeStandardBase64(std::string_view word) {
    if (word.empty() || word.size() % 4 != 0) return std::nullopt;
    for (const char character : word) {
        const bool alphabet = (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') ||
                              (character >= '0' && character <= '9') || character == '+' || character == '/' ||
                              character == '=';
        if (!alphabet) return std::nullopt;
    }
    return TessaloyCore::decodeBase64(word);
}

} // namespace

std::optional<RelayEndpoint> RelayEndpoint::parse(std::string_view text) {
    const std::vector<std::string_view> parts = words(text);
    if (parts.size() != 4) return std::nullopt;
    if (parts[0].empty() || parts[0].size() > maximumHostBytes) return std::nullopt;
    const auto port = parsePort(parts[1]);
    if (!port) return std::nullopt;
    auto helloKey = decodeStandardBase64(parts[2]);
    if (!helloKey || helloKey->size() != helloKeyBytes) return std::nullopt;
    auto tlsKey = decodeStandardBase64(parts[3]);
    if (!tlsKey || tlsKey->empty() || tlsKey->size() > maximumTLSKeyBytes) return std::nullopt;
    return RelayEndpoint{std::string(parts[0]), *port, std::move(*helloKey), std::move(*tlsKey)};
}

const RelayEndpoint& RelayEndpoint::hosted() {
    static const RelayEndpoint endpoint = [] {
        auto parsed = parse(hostedText);
        if (!parsed) std::abort(); // the built-in text is a constant of this program
        return std::move(*parsed);
    }();
    return endpoint;
}

std::optional<RelayEndpoint> RelayEndpoint::configured(std::optional<bool> enabled,
                                                       const std::optional<std::string>& override) {
    if (enabled == false) return std::nullopt;
    if (override) {
        if (auto endpoint = parse(*override)) return endpoint;
    }
    return hosted();
}

std::string RelayEndpoint::text() const {
    return host + " " + std::to_string(port) + " " + TessaloyCore::base64(helloKey) + " " +
           TessaloyCore::base64(tlsKey);
}

} // namespace TessaloyNet
