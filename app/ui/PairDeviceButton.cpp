#include "app/ui/PairDeviceButton.h"

#include "app/capture/CaptureProbe.h"
#include "app/runtime/TaskHandle.h"
#include "app/shell/StopSentences.h"
#include "app/shell/StreamingSession.h"
#include "app/ui/Look.h"
#include "app/ui/decisions/PopoverTexts.h"
#include "net/channel/PairingLimits.h"

namespace Plovander {

PairDeviceButton::PairDeviceButton(StreamingSession& session, CaptureProbe& capture, bool prominent, QWidget* parent)
    : ProminenceButton(QStringLiteral("Pair a device"), prominent, parent), session_(session), capture_(capture) {
    setObjectName(prominent ? "pairDevice" : "pairDeviceCompact");
    setSymbol("plus");
    if (prominent) {
        setDefault(true);
        setMinimumHeight(32);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFont(Look::font(Look::Text::caption));
    }
    connect(this, &QPushButton::clicked, this, [this] {
        TaskHandle::detach([session = &session_](CancellationToken) -> QCoro::Task<> {
            co_await session->startSharing(session->hostDisplayName());
        });
    });
    for (auto signal : {&StreamingSession::isSharingChanged, &StreamingSession::pairedDevicesChanged}) {
        connect(&session_, signal, this, &PairDeviceButton::refresh);
    }
    for (auto signal : {&CaptureProbe::isBusyChanged, &CaptureProbe::isRunningChanged}) {
        connect(&capture_, signal, this, &PairDeviceButton::refresh);
    }
    refresh();
}

void PairDeviceButton::refresh() {
    const auto state = PopoverTexts::pairButton(
        capture_.isBusy(), capture_.isRunning(), session_.isSharing(), session_.pairedDevices().size(),
        TessaloyNet::PairingLimits::devicesPerMac, QString::fromStdString(pairingLimitText()));
    setEnabled(state.enabled);
    setToolTip(state.tooltip);
}

} // namespace Plovander
