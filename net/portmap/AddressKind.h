#pragma once

#include <string_view>

namespace TessaloyNet {

// Tells a public IPv4 address from the shared, private and reserved ones a router may report when it
// sits behind another NAT: a mapping on such an address is useless from the internet.
class AddressKind {
public:
    AddressKind() = delete;

    // True for a dotted IPv4 text outside 0/8, 10/8, 127/8, 100.64/10, 169.254/16, 172.16/12,
    // 192.168/16 and 224/3. Only the first two numbers are looked at; parts that do not read as
    // numbers are dropped before counting the four.
    static bool isPublicIPv4(std::string_view text);
};

} // namespace TessaloyNet
