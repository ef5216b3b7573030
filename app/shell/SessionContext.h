#pragma once

#include "app/runtime/CancellationToken.h"
#include "net/channel/DeviceIdentity.h"

#include <optional>
#include <string>

namespace Platform {
class Environment;
}
namespace TessaloyNet {
class PairedDeviceStore;
}

namespace Plovander {

class CaptureProbe;
class HostTransfers;
class SessionEffects;
class SessionModel;
class StreamPreferences;
struct SessionLink;

// What the controller's parts share: the session's state and the objects most of them act on.
// The controller builds it once; everything it names outlives the parts.
struct SessionContext {
    Platform::Environment& environment;
    SessionModel& model;
    SessionLink& link;
    StreamPreferences& preferences;
    SessionEffects& effects;
    CaptureProbe& capture;
    HostTransfers& transfers;
    TessaloyNet::PairedDeviceStore& trusted;
    const std::optional<TessaloyNet::DeviceIdentity>& identity;
    // Cancelled as the controller starts to go; the parts check it after every wait and callback.
    CancellationToken lifetime;
};

// The name this computer shows to devices: its host name, or "Mac" when it has none.
inline std::string shownName(std::string hostName) { return hostName.empty() ? "Mac" : hostName; }

} // namespace Plovander
