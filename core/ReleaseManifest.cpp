#include "core/ReleaseManifest.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>
#include <vector>

#ifndef PLOVANDER_RELEASE_HOST
#define PLOVANDER_RELEASE_HOST "updates.plovander.example"
#endif

namespace TessaloyCore {

namespace {

using Json = nlohmann::json;

constexpr std::string_view hexDigits = "0123456789abcdefABCDEF";

bool isAsciiAlpha(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) noexcept { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) noexcept { return hexDigits.find(c) != std::string_view::npos; }
char lowered(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalIgnoringCase(std::string_view a, std::string_view b) noexcept {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) { return lowered(x) == lowered(y); });
}

// Unreserved, reserved (without the brackets of IPv6 literals) and percent-encoded characters.
bool isUrlText(std::string_view text) noexcept {
    constexpr std::string_view allowed = "-._~:/?#@!$&'()*+,;=";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) return false;
            i += 2;
        } else if (!isAsciiAlpha(c) && !isAsciiDigit(c) && allowed.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

bool isPort(std::string_view text) noexcept {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), isAsciiDigit)) return false;
    int port = 0;
    std::from_chars(text.data(), text.data() + text.size(), port);
    return port >= 1 && port <= 65'535;
}

// Whether `url` is https://<expectedHost>[:port][/path][?query][#fragment].
bool isOurDownload(std::string_view url, std::string_view expectedHost) noexcept {
    if (!isUrlText(url)) return false;
    const std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || !equalIgnoringCase(url.substr(0, colon), "https")) return false;
    std::string_view rest = url.substr(colon + 1);
    if (!rest.starts_with("//")) return false;
    rest.remove_prefix(2);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos) return false;
    const std::size_t portColon = authority.find(':');
    const std::string_view hostPart = authority.substr(0, portColon);
    if (portColon != std::string_view::npos && !isPort(authority.substr(portColon + 1))) return false;
    return !hostPart.empty() && equalIgnoringCase(hostPart, expectedHost);
}

bool isSha256Text(std::string_view text) noexcept {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), isHexDigit);
}

std::int64_t buildOf(const Json& value) {
    if (!value.is_number_integer()) {
        throw Json::type_error::create(302, std::string("type must be an integer, but is ") + value.type_name(),
                                       &value);
    }
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        throw Json::out_of_range::create(406, "number overflow: build is beyond signed 64 bits", &value);
    }
    return value.get<std::int64_t>();
}

// The dot-separated decimal numbers of a version text; nullopt when it is anything else.
std::optional<std::vector<std::int64_t>> versionNumbers(std::string_view text) {
    std::vector<std::int64_t> numbers;
    while (true) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (part.empty() || !std::all_of(part.begin(), part.end(), isAsciiDigit)) return std::nullopt;
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), number);
        if (error != std::errc() || end != part.data() + part.size()) return std::nullopt;
        numbers.push_back(number);
        if (dot == std::string_view::npos) return numbers;
        text.remove_prefix(dot + 1);
    }
}

} // namespace

const char* nameOf(ReleaseManifest::Problem problem) noexcept {
    switch (problem) {
        case ReleaseManifest::Problem::notOurDownload:
            return "notOurDownload";
        case ReleaseManifest::Problem::malformedHash:
            return "malformedHash";
    }
    return "unknown";
}

const char* descriptionOf(ReleaseManifest::Problem problem) noexcept {
    switch (problem) {
        case ReleaseManifest::Problem::notOurDownload:
            return "The update is not one of ours.";
        case ReleaseManifest::Problem::malformedHash:
            return "The update's checksum is malformed.";
    }
    return "Something went wrong.";
}

std::string ReleaseManifest::host() { return PLOVANDER_RELEASE_HOST; }

std::string ReleaseManifest::location() { return "https://" + host() + "/plovander/latest.json"; }

ReleaseManifest ReleaseManifest::decode(ByteView body, std::string_view expectedHost) {
    const Json json = Json::parse(body.begin(), body.end());
    if (!json.is_object()) {
        throw Json::type_error::create(302, std::string("type must be object, but is ") + json.type_name(), &json);
    }
    ReleaseManifest manifest;
    manifest.version = json.at("version").get<std::string>();
    manifest.build = buildOf(json.at("build"));
    manifest.url = json.at("url").get<std::string>();
    manifest.sha256 = json.at("sha256").get<std::string>();
    manifest.minimumSystem = json.at("minimumMacOS").get<std::string>();

    if (!isOurDownload(manifest.url, expectedHost)) throw Error(Problem::notOurDownload);
    if (!isSha256Text(manifest.sha256)) throw Error(Problem::malformedHash);
    return manifest;
}

bool ReleaseManifest::isUpdate(std::int64_t runningBuild, SystemVersion system) const {
    if (runningBuild >= build) return false;
    const auto minimum = versionNumbers(minimumSystem);
    if (!minimum) return false;
    const std::vector<std::int64_t> running{system.majorVersion, system.minorVersion, system.patchVersion};
    const std::size_t length = std::max(running.size(), minimum->size());
    for (std::size_t i = 0; i < length; ++i) {
        const std::int64_t have = i < running.size() ? running[i] : 0;
        const std::int64_t need = i < minimum->size() ? (*minimum)[i] : 0;
        if (have != need) return have > need;
    }
    return true;
}

} // namespace TessaloyCore
