#include "net/channel/PairingLink.h"

#include "core/Encoding.h"

#include <cctype>

namespace TessaloyNet {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string PairingLink::url(const PairingCode& code, TessaloyCore::ByteView salt) {
    return "plovander://pair?c=" + code.symbols() + "&s=" + TessaloyCore::base64Url(salt);
}

std::string PairingLink::connectURL(std::string_view keyIdentifier) {
    return "plovander://connect?mac=" + std::string(keyIdentifier);
}

std::optional<PairingLink::Pairing> PairingLink::parse(std::string_view url) {
    constexpr std::string_view scheme = "plovander://";
    constexpr std::string_view host = "pair";
    if (url.size() < scheme.size() || !equalsIgnoringCase(url.substr(0, scheme.size()), scheme)) return std::nullopt;
    url.remove_prefix(scheme.size());
    const std::size_t question = url.find('?');
    if (question == std::string_view::npos || !equalsIgnoringCase(url.substr(0, question), host)) return std::nullopt;
    std::string_view query = url.substr(question + 1);

    std::optional<std::string> code;
    std::optional<std::string> salt;
    while (!query.empty()) {
        const std::size_t ampersand = query.find('&');
        const std::string_view item = query.substr(0, ampersand);
        query = ampersand == std::string_view::npos ? std::string_view() : query.substr(ampersand + 1);
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = item.substr(0, equals);
        std::optional<std::string>* slot = name == "c" ? &code : name == "s" ? &salt : nullptr;
        if (!slot) continue;
        if (slot->has_value()) return std::nullopt;
        *slot = std::string(item.substr(equals + 1));
    }
    if (!code || !salt) return std::nullopt;
    auto parsedCode = PairingCode::parse(*code);
    // Padding and the standard alphabet are not part of the link.
    if (salt->find_first_of("=+/") != std::string::npos) return std::nullopt;
    auto parsedSalt = TessaloyCore::decodeBase64(*salt);
    if (!parsedCode || !parsedSalt || parsedSalt->size() != saltBytes) return std::nullopt;
    return Pairing{std::move(*parsedCode), std::move(*parsedSalt)};
}

} // namespace TessaloyNet
