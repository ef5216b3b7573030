#pragma once

#include "platform/Interfaces.h"

#include <string_view>

namespace Platform::Linux {

// The interfaces of the calling thread's network namespace as getifaddrs lists them, each given
// its kind by its link type, flags and driver kind as rtnetlink describes them.
class IfaddrsInterfaces final : public Interfaces {
public:
    std::vector<Interface> list() const override;

    // The kind of a link of type `type` (ARPHRD_...) with the flags `flags` (IFF_...), made by
    // the driver kind `linkKind` (empty for a device's own link).
    static Kind kindOf(unsigned type, std::string_view linkKind, unsigned flags, bool wireless);
};

} // namespace Platform::Linux
