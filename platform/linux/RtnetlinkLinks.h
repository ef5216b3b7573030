#pragma once

#include <map>
#include <string>

namespace Platform::Linux {

// The links of the calling thread's network namespace as rtnetlink describes them.
class RtnetlinkLinks {
public:
    struct Link {
        unsigned type = 0; // ARPHRD_...
        std::string kind;  // the driver's link kind ("veth", "bridge", "wireguard"); empty for a device's own
        bool wireless = false;
    };

    // By interface name; empty when the kernel cannot be asked.
    static std::map<std::string, Link> read();
};

} // namespace Platform::Linux
