#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace Plovander {

// The install tree this program runs from ("<parent>/Plovander.app"), found once at start: after a
// swap /proc/self/exe follows the old files.
class InstalledCopy {
public:
    // Whether this process may create and remove entries in a folder.
    using WriteCheck = std::function<bool(const std::filesystem::path&)>;

    // Where the program lies in a tree.
    static constexpr std::string_view program = "bin/plovander";

    explicit InstalledCopy(std::filesystem::path tree) : tree_(std::move(tree)) {}
    // realpath(/proc/self/exe) two levels up.
    static InstalledCopy ofRunningProgram();

    const std::filesystem::path& tree() const { return tree_; }

    // Info.json's string value for `key`: nullopt when Info.json is not a regular file reached
    // inside the tree, not a JSON object, or holds no string there. Read again on every call.
    std::optional<std::string> infoText(const char* key) const;
    // Info.json's "CFBundleShortVersionString", else "?". Read again on every call.
    std::string version() const;
    // Info.json's "CFBundleVersion" as a whole number, else 0. Read again on every call.
    std::int64_t build() const;

    // True when the tree has an Info.json and both the tree and its parent pass `isWritable`
    // (the parent asked only when the tree passes). A build folder cannot replace itself.
    bool canReplaceItself(const WriteCheck& isWritable = accessAllowsWriting) const;
    static bool accessAllowsWriting(const std::filesystem::path& folder);

    // An optional sign, then only decimal digits, within signed 64 bits.
    static std::optional<std::int64_t> parseBuild(std::string_view text);

private:
    // Info.json's bytes, when it is a regular file reached inside the tree.
    std::optional<std::string> infoFile() const;

    std::filesystem::path tree_;
};

} // namespace Plovander
