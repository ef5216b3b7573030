#include "net/reach/DirectCandidates.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

namespace TessaloyNet::DirectCandidates {
namespace {

// The first group written between colons, as a 16-bit number.
std::optional<unsigned> firstGroup(std::string_view address) {
    const std::size_t start = address.find_first_not_of(':');
    if (start == std::string_view::npos) return std::nullopt;
    const std::string_view group = address.substr(start, address.find(':', start) - start);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(group.data(), group.data() + group.size(), value, 16);
    if (error != std::errc() || end != group.data() + group.size() || value > 0xFFFF) return std::nullopt;
    return value;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(b)) == a;
           });
}

} // namespace

bool isPublishable(std::string_view address) {
    if (address.find('%') != std::string_view::npos) return false;
    const std::optional<unsigned> group = firstGroup(address);
    if (!group || (*group & 0xE000) != 0x2000) return false;
    return !startsWithIgnoringCase(address, "2001:db8:");
}

std::vector<std::string> choose(const std::vector<std::string>& addresses, std::uint16_t port) {
    std::vector<std::string> candidates;
    for (const std::string& address : addresses) {
        if (candidates.size() == maximumCount) break;
        if (!isPublishable(address)) continue;
        std::string candidate = "[" + address + "]:" + std::to_string(port);
        if (std::find(candidates.begin(), candidates.end(), candidate) == candidates.end()) {
            candidates.push_back(std::move(candidate));
        }
    }
    return candidates;
}

} // namespace TessaloyNet::DirectCandidates
