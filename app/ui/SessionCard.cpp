#include "app/ui/SessionCard.h"

#include "app/capture/CaptureProbe.h"
#include "app/shell/StreamingSession.h"
#include "app/ui/FlowRow.h"
#include "app/ui/IconTile.h"
#include "app/ui/Look.h"
#include "app/ui/SmallButton.h"
#include "app/ui/SymbolView.h"
#include "app/ui/TransferList.h"
#include "app/ui/decisions/DeviceNames.h"
#include "app/ui/decisions/PopoverTexts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace Plovander {

SessionCard::SessionCard(StreamingSession& session, CaptureProbe& capture, HostTransfers& transfers, QWidget* parent)
    : Card(parent),
      session_(session),
      capture_(capture),
      name_(Look::label({}, Look::Text::body, QFont::DemiBold)),
      access_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      quality_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      privacy_(new QWidget),
      privacyText_(Look::label({}, Look::Text::caption)) {
    setObjectName("sessionCard");
    name_->setObjectName("peerName");
    access_->setObjectName("access");
    quality_->setObjectName("quality");
    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    lines->addWidget(name_);
    lines->addWidget(access_);
    lines->addWidget(quality_);
    auto* summary = new QHBoxLayout;
    summary->setSpacing(12);
    summary->addWidget(new IconTile("iphone.radiowaves.left.and.right", Tint::green));
    summary->addLayout(lines, 1);

    auto* eye = new SymbolView("eye.slash", Tint::primary, 14);
    privacyText_->setObjectName("privacyText");
    auto* end = new SmallButton("End");
    end->setObjectName("endPrivacy");
    auto* banner = new QHBoxLayout;
    banner->setSpacing(8);
    banner->addWidget(eye);
    banner->addWidget(privacyText_, 1);
    banner->addWidget(end);
    auto* privacyColumn = new QVBoxLayout(privacy_);
    privacyColumn->setContentsMargins(0, 0, 0, 0);
    privacyColumn->addLayout(banner);
    privacyColumn->addWidget(
        Look::label("At this Mac, press Ctrl+Alt+Super+Esc to end it.", Look::Text::caption2, QFont::Normal, true));

    auto* files = new QPushButton(QStringLiteral("Files\u2026"));
    Look::setLeadingSymbol(*files, "folder", Tint::primary);
    files->setObjectName("files");
    files->setToolTip("Send files to your device, or find what it sent");
    auto* disconnect = new QPushButton("Disconnect");
    disconnect->setObjectName("disconnect");
    disconnect->setToolTip(QStringLiteral("Your device won't reconnect by itself until you connect from it again."));
    auto* actions = new FlowRow;
    actions->setSpacing(8);
    actions->addWidget(files, true);
    actions->addWidget(disconnect, true);

    column()->addLayout(summary);
    column()->addWidget(privacy_);
    column()->addWidget(new TransferList(transfers, TransferList::Style::card));
    column()->addLayout(actions);

    connect(end, &QPushButton::clicked, this, [this] { session_.applyPrivacy({false, false}); });
    connect(files, &QPushButton::clicked, this, &SessionCard::filesRequested);
    connect(disconnect, &QPushButton::clicked, this,
            [this] { session_.stopSharing(StreamingSession::StopReason::hostDisconnected()); });
    for (auto signal : {&StreamingSession::connectedPeerNameChanged, &StreamingSession::allowsRemoteControlChanged,
                        &StreamingSession::qualityModeChanged, &StreamingSession::privacyChanged}) {
        connect(&session_, signal, this, &SessionCard::refresh);
    }
    for (auto signal : {&CaptureProbe::rungChanged, &CaptureProbe::codecChanged}) {
        connect(&capture_, signal, this, &SessionCard::refresh);
    }
    refresh();
}

void SessionCard::refresh() {
    const auto& peer = session_.connectedPeerName();
    name_->setText(plainName(peer ? deviceDisplayName(QString::fromStdString(*peer)) : QStringLiteral("A device")));
    access_->setText(PopoverTexts::accessLine(session_.allowsRemoteControl()));
    const auto& rung = capture_.rung();
    quality_->setVisible(rung.has_value());
    if (rung) {
        quality_->setText(
            PopoverTexts::qualityLine(session_.qualityMode(), rung->profile.height, rung->profile.framesPerSecond));
        quality_->setToolTip(PopoverTexts::codecTooltip(capture_.codec()));
    }
    const auto& privacy = session_.privacy();
    const auto text = PopoverTexts::privacyText(privacy.blanksScreen, privacy.locksLocalInput);
    privacy_->setVisible(text.has_value());
    privacyText_->setText(text.value_or(QString()));
}

} // namespace Plovander
