#include "app/shell/StopSentences.h"

#include "app/shell/Settings.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairingLimits.h"
#include "platform/UserDefaults.h"

#include <algorithm>
#include <cctype>

namespace Plovander {
namespace {

using StopReason = TessaloyNet::HostSessionState::StopReason;

bool containsAny(std::string_view text, std::initializer_list<std::string_view> needles) {
    return std::any_of(needles.begin(), needles.end(),
                       [&](std::string_view needle) { return text.find(needle) != std::string_view::npos; });
}

} // namespace

std::string stopReasonText(const StopReason& reason) {
    struct Sentence {
        std::string operator()(const StopReason::Failed& failed) const { return "Stopped: " + failed.description; }
        std::string operator()(const StopReason::UserStopped&) const { return "Not sharing."; }
        std::string operator()(const StopReason::PeerDisconnected&) const { return "The device disconnected."; }
        std::string operator()(const StopReason::OfferExpired&) const {
            return "The code expired. Start sharing again for a new one.";
        }
        std::string operator()(const StopReason::Rejected&) const { return "Connection declined."; }
        std::string operator()(const StopReason::HostDisconnected&) const {
            return "Disconnected. This Mac is still available.";
        }
    };
    return std::visit(Sentence{}, reason.value);
}

std::optional<std::string> rejectionMessage(std::string_view reason, bool advertising) {
    std::string lowered(reason);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (advertising && containsAny(lowered, {"certificate", "-9825"})) {
        return "A device tried a code that didn't match. Check the code and try again.";
    }
    if (containsAny(lowered,
                    {"-9816", "closed session with no notification", "did not complete", "did not finish connecting",
                     "connection reset", "cancelled", "-9863", "certificate required"})) {
        return std::nullopt;
    }
    if (containsAny(lowered, {"-9808", "bad certificate"})) {
        return "A device that isn't paired with this Mac tried to connect.";
    }
    return std::string(reason);
}

std::uint16_t listenPort(const Platform::UserDefaults& defaults) {
    const std::int64_t stored = defaults.integer(Settings::listenPort).value_or(0);
    // Only a real port number counts; cutting a larger number to 16 bits would listen somewhere
    // nobody asked for.
    if (stored >= 1 && stored <= 65'535) return static_cast<std::uint16_t>(stored);
    return TessaloyNet::LANTransport::defaultPort;
}

const std::string& pairingLimitText() {
    static const std::string text = "This Mac already has " +
                                    std::to_string(TessaloyNet::PairingLimits::devicesPerMac) +
                                    " paired devices. Forget one below to pair another.";
    return text;
}

} // namespace Plovander
