#pragma once

#include <filesystem>

namespace Platform::Linux {

// The XDG base directories of the current user, each from its variable when that holds an absolute
// path, else from the home folder.
struct XdgDirectories {
    static std::filesystem::path home();
    static std::filesystem::path configHome();
    static std::filesystem::path dataHome();
    static std::filesystem::path stateHome();
    static std::filesystem::path cacheHome();
    static std::filesystem::path runtimeDir();
};

} // namespace Platform::Linux
