#pragma once

#include "core/Bytes.h"
#include "net/relay/RelayEndpoint.h"

namespace TessaloyNet {

// How a device names a Mac that it reaches through the relay: the endpoint and their shared
// 32-byte meeting identifier.
struct RelayRoute {
    RelayEndpoint relay;
    TessaloyCore::Bytes meetingID;

    friend bool operator==(const RelayRoute&, const RelayRoute&) = default;
};

} // namespace TessaloyNet
