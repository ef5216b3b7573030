#pragma once

#include "platform/Interfaces.h"

#include <filesystem>

namespace Platform::Linux {

// The interfaces as getifaddrs lists them, each told wired or wireless by what the kernel shows of
// it under `netClass` (/sys/class/net): a wireless folder, or an Ethernet link backed by a device.
// A point-to-point link, or one whose link type carries bare IP (tun, WireGuard, PPP, IP tunnels,
// IPsec), is a tunnel.
class IfaddrsInterfaces final : public Interfaces {
public:
    explicit IfaddrsInterfaces(std::filesystem::path netClass = "/sys/class/net");

    std::vector<Interface> list() const override;

    // The kind of the interface `name` with the flags `flags` (IFF_...).
    static Kind kindOf(const std::filesystem::path& netClass, const std::string& name, unsigned flags);

private:
    std::filesystem::path netClass_;
};

} // namespace Platform::Linux
