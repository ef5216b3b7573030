#include "platform/UserDefaults.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace Platform {
namespace {

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

} // namespace

UserDefaults::UserDefaults(Overrides overrides) : overrides_(std::move(overrides)) {}

UserDefaults::Overrides UserDefaults::parseLaunchArguments(const std::vector<std::string>& arguments) {
    Overrides overrides;
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() < 2 || argument[0] != '-' || argument[1] == '-') continue;
        overrides[argument.substr(1)] = arguments[i + 1];
        ++i;
    }
    return overrides;
}

std::optional<std::string> UserDefaults::raw(std::string_view key) const {
    if (auto found = overrides_.find(key); found != overrides_.end()) return found->second;
    return load(key);
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    const auto value = raw(key);
    if (!value) return std::nullopt;
    const std::string word = lowered(*value);
    if (word == "true" || word == "yes" || word == "1") return true;
    if (word == "false" || word == "no" || word == "0") return false;
    return std::nullopt;
}

std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
    const auto value = raw(key);
    if (!value) return std::nullopt;
    std::int64_t number = 0;
    const char* end = value->data() + value->size();
    const auto [stop, error] = std::from_chars(value->data(), end, number);
    if (error != std::errc{} || stop != end) return std::nullopt;
    return number;
}

std::optional<std::string> UserDefaults::text(std::string_view key) const { return raw(key); }

void UserDefaults::setBoolean(std::string_view key, bool value) { store(key, value ? "true" : "false"); }

void UserDefaults::setInteger(std::string_view key, std::int64_t value) { store(key, std::to_string(value)); }

void UserDefaults::setText(std::string_view key, std::string_view value) { store(key, std::string(value)); }

void UserDefaults::remove(std::string_view key) { store(key, std::nullopt); }

} // namespace Platform
