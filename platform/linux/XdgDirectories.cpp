#include "platform/linux/XdgDirectories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace Platform::Linux {
namespace {

std::filesystem::path fromVariable(const char* name, const std::filesystem::path& fallback) {
    const char* value = std::getenv(name);
    if (value && value[0] == '/') return value;
    return fallback;
}

} // namespace

std::filesystem::path XdgDirectories::home() {
    if (const char* value = std::getenv("HOME"); value && value[0] == '/') return value;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::filesystem::path XdgDirectories::configHome() { return fromVariable("XDG_CONFIG_HOME", home() / ".config"); }

std::filesystem::path XdgDirectories::dataHome() { return fromVariable("XDG_DATA_HOME", home() / ".local/share"); }

std::filesystem::path XdgDirectories::stateHome() { return fromVariable("XDG_STATE_HOME", home() / ".local/state"); }

std::filesystem::path XdgDirectories::cacheHome() { return fromVariable("XDG_CACHE_HOME", home() / ".cache"); }

std::filesystem::path XdgDirectories::runtimeDir() {
    // A TMPDIR that names no folder must not stop the program.
    std::error_code missing;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(missing);
    return fromVariable("XDG_RUNTIME_DIR", missing ? "/tmp" : temporary);
}

} // namespace Platform::Linux
