#include "app/shell/SessionModel.h"

#include "app/shell/StreamingSession.h"
#include "app/trace/TraceLog.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/channel/PairingLink.h"

namespace Plovander {
namespace {

// The notification of one property: the owner's change signal.
template <typename Signal>
std::function<void()> signalOf(StreamingSession& owner, Signal signal) {
    return [&owner, signal] { Q_EMIT(owner.*signal)(); };
}

} // namespace

SessionModel::SessionModel(StreamingSession& owner)
    : isSharing(signalOf(owner, &StreamingSession::isSharingChanged)),
      isAdvertising(signalOf(owner, &StreamingSession::isAdvertisingChanged)),
      acceptsPairedDevices(signalOf(owner, &StreamingSession::acceptsPairedDevicesChanged)),
      allowsRemoteControl(signalOf(owner, &StreamingSession::allowsRemoteControlChanged)),
      listensAutomatically(signalOf(owner, &StreamingSession::listensAutomaticallyChanged)),
      staysAwakeForPairedDevices(signalOf(owner, &StreamingSession::staysAwakeForPairedDevicesChanged)),
      keepsAvailableOnApproval(signalOf(owner, &StreamingSession::keepsAvailableOnApprovalChanged), true),
      qualityMode(signalOf(owner, &StreamingSession::qualityModeChanged), TessaloyCore::QualityMode::balanced),
      phaseDescription(signalOf(owner, &StreamingSession::phaseDescriptionChanged), "Not sharing."),
      pendingPeerName(signalOf(owner, &StreamingSession::pendingPeerNameChanged)),
      connectedPeerName(signalOf(owner, &StreamingSession::connectedPeerNameChanged)),
      pairingCode(signalOf(owner, &StreamingSession::pairingCodeChanged)),
      pairingExpiresAt(signalOf(owner, &StreamingSession::pairingExpiresAtChanged)),
      pairingLink(signalOf(owner, &StreamingSession::pairingLinkChanged)),
      pairedDevices(signalOf(owner, &StreamingSession::pairedDevicesChanged)),
      lastRejection(signalOf(owner, &StreamingSession::lastRejectionChanged)),
      privacy(signalOf(owner, &StreamingSession::privacyChanged)),
      setupProblem(signalOf(owner, &StreamingSession::setupProblemChanged)),
      listeningHeldByUser(signalOf(owner, &StreamingSession::listeningHeldByUserChanged)),
      ready(signalOf(owner, &StreamingSession::readyChanged)),
      loginItem(signalOf(owner, &StreamingSession::loginItemChanged)),
      usesConnect(signalOf(owner, &StreamingSession::usesConnectChanged), true),
      relayStatus(signalOf(owner, &StreamingSession::relayStatusChanged)),
      opensRouterPort(signalOf(owner, &StreamingSession::opensRouterPortChanged), true),
      directStatus(signalOf(owner, &StreamingSession::directStatusChanged)),
      interfaceAddresses(signalOf(owner, &StreamingSession::interfaceAddressesChanged)) {}

void SessionModel::showOffer(const TessaloyNet::PairingOffer& offer) {
    pairingCode.set(offer.code.formatted());
    pairingLink.set(TessaloyNet::PairingLink::url(offer.code, offer.salt));
    pairingExpiresAt.set(offer.createdAt + offerLifetime);
}

void SessionModel::clearPairingCode() {
    pairingCode.set(std::nullopt);
    pairingExpiresAt.set(std::nullopt);
    pairingLink.set(std::nullopt);
}

void SessionModel::reloadPairedDevices(const TessaloyNet::PairedDeviceStore& trusted) {
    pairedDevices.set(readPairedDevices(trusted));
}

std::vector<TessaloyNet::PairedDevice> SessionModel::readPairedDevices(const TessaloyNet::PairedDeviceStore& trusted) {
    try {
        return trusted.all();
    } catch (const std::exception& error) {
        TraceLog::message([&] { return std::string("could not read the paired devices: ") + error.what(); });
        return {};
    }
}

} // namespace Plovander
