#pragma once

#include <cstdint>

namespace Testing {

// A port nobody listens on now, for a host under test to listen on. It lies below the kernel's
// range for outgoing connections, so no connection of another process takes it meanwhile.
std::uint16_t unusedListenPort();

} // namespace Testing
