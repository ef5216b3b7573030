#pragma once

#include <filesystem>
#include <string>

namespace Testing {

// The configuration of a private system bus listening on `socket`, open to everyone: tests start
// their own daemons on it (avahi-daemon, a mock logind) instead of touching the machine's bus.
std::string privateSystemBusConfiguration(const std::filesystem::path& socket);

} // namespace Testing
