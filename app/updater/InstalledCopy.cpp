#include "app/updater/InstalledCopy.h"

#include "app/updater/release/InsideTree.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <system_error>

namespace Plovander {

InstalledCopy InstalledCopy::ofRunningProgram() {
    std::error_code error;
    const auto program = std::filesystem::canonical("/proc/self/exe", error);
    return InstalledCopy(error ? std::filesystem::path() : program.parent_path().parent_path());
}

std::optional<std::string> InstalledCopy::infoFile() const {
    try {
        return InsideTree(tree_).regularFile("Info.json");
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

std::optional<std::string> InstalledCopy::infoText(const char* key) const {
    const auto bytes = infoFile();
    if (!bytes) return std::nullopt;
    const auto info = nlohmann::json::parse(*bytes, nullptr, false);
    if (!info.is_object() || !info.contains(key) || !info[key].is_string()) return std::nullopt;
    return info[key].get<std::string>();
}

std::string InstalledCopy::version() const { return infoText("CFBundleShortVersionString").value_or("?"); }

std::int64_t InstalledCopy::build() const { return parseBuild(infoText("CFBundleVersion").value_or("")).value_or(0); }

bool InstalledCopy::canReplaceItself(const WriteCheck& isWritable) const {
    if (!infoFile()) return false;
    return isWritable(tree_) && isWritable(tree_.parent_path());
}

bool InstalledCopy::accessAllowsWriting(const std::filesystem::path& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::optional<std::int64_t> InstalledCopy::parseBuild(std::string_view text) {
    const bool plus = text.starts_with('+');
    if (plus) text.remove_prefix(1);
    const std::string_view digits = !plus && text.starts_with('-') ? text.substr(1) : text;
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

} // namespace Plovander
