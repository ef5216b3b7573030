#include "app/ui/ConnectSection.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/CheckRow.h"
#include "app/ui/ElidedLabel.h"
#include "app/ui/Look.h"
#include "app/ui/Switch.h"
#include "app/ui/decisions/SettingsTexts.h"
#include "platform/Pasteboard.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace Plovander {

ConnectSection::ConnectSection(StreamingSession& session, std::shared_ptr<Platform::Pasteboard> pasteboard,
                               QWidget* parent)
    : QWidget(parent),
      session_(session),
      pasteboard_(std::move(pasteboard)),
      relay_(new Switch("Plovander Connect")),
      relayStatus_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      explanation_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      direct_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      routerPortRow_(new CheckRow("Open a port on the router for direct connections",
                                  "Faster away from home. Your router then accepts connections to Plovander from "
                                  "the internet; only your paired devices can sign in.")),
      routerPort_(&routerPortRow_->box()),
      addresses_(new QVBoxLayout),
      vpnNote_(Look::label("With Plovander Connect, your iPhone can also reach this Mac at this address when it is on "
                           "the same VPN.",
                           Look::Text::caption, QFont::Normal, true)) {
    relay_->setObjectName("relaySwitch");
    relayStatus_->setObjectName("relayStatus");
    explanation_->setObjectName("relayExplanation");
    direct_->setObjectName("directStatus");
    routerPort_->setObjectName("routerPort");
    routerPortRow_->setContentsMargins(0, 4, 0, 0);
    vpnNote_->setObjectName("vpnNote");

    auto* relayRow = new QHBoxLayout;
    relayRow->addWidget(Look::label("Plovander Connect", Look::Text::caption, QFont::DemiBold));
    relayRow->addStretch();
    relayRow->addWidget(relayStatus_);
    relayRow->addWidget(relay_);

    addresses_->setContentsMargins(0, 0, 0, 0);
    addresses_->setSpacing(6);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addLayout(relayRow);
    column->addWidget(explanation_);
    column->addWidget(direct_);
    column->addWidget(routerPortRow_);
    column->addLayout(addresses_);
    column->addWidget(vpnNote_);

    connect(relay_, &Switch::toggled, this, [this](bool on) { session_.setUsesConnect(on); });
    connect(routerPort_, &QCheckBox::toggled, this, [this](bool on) { session_.setOpensRouterPort(on); });
    for (auto signal : {&StreamingSession::usesConnectChanged, &StreamingSession::relayStatusChanged,
                        &StreamingSession::directStatusChanged, &StreamingSession::opensRouterPortChanged,
                        &StreamingSession::interfaceAddressesChanged}) {
        connect(&session_, signal, this, &ConnectSection::refresh);
    }
    refresh();
}

void ConnectSection::refresh() {
    {
        const QSignalBlocker quiet(relay_);
        relay_->setChecked(session_.usesConnect());
    }
    const QString status = QString::fromStdString(session_.relayStatus());
    relayStatus_->setText(status);
    relayStatus_->setVisible(!status.isEmpty());
    explanation_->setText(SettingsTexts::relayExplanation(session_.usesConnect()));
    // The direct road follows the relay's registration, not the switch.
    const auto& direct = session_.directStatus();
    direct_->setText(QStringLiteral("Direct: ") + QString::fromStdString(direct.value_or(std::string())));
    direct_->setVisible(!status.isEmpty() && direct.has_value());
    {
        const QSignalBlocker quiet(routerPort_);
        routerPort_->setChecked(session_.opensRouterPort());
    }
    routerPortRow_->setVisible(!status.isEmpty());

    while (QLayoutItem* item = addresses_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto& addresses = session_.interfaceAddresses();
    for (const std::string& address : addresses) addresses_->addWidget(addressRow(QString::fromStdString(address)));
    vpnNote_->setVisible(std::any_of(addresses.begin(), addresses.end(), [](const std::string& address) {
        return SettingsTexts::isVPNAddress(QString::fromStdString(address));
    }));
}

QWidget* ConnectSection::addressRow(const QString& address) {
    auto* row = new QWidget;
    row->setObjectName("addressRow");
    // On one line, cut in the middle where it must be; the tooltip and the copy button hold it whole.
    auto* text = new ElidedLabel(false, Qt::ElideMiddle);
    text->setObjectName("address");
    text->setFont(Look::monospaceFont(Look::Text::caption));
    text->setFullText(address);
    text->setSelectable(true);
    auto* copy = new QToolButton;
    copy->setObjectName("copyAddress");
    copy->setAutoRaise(true);
    copy->setIcon(Look::symbol("doc.on.doc", Tint::secondary));
    copy->setToolTip("Copy address");
    copy->setAccessibleName("Copy address");
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(text);
    if (SettingsTexts::isVPNAddress(address)) {
        QLabel* badge = Look::label("VPN", Look::Text::caption2, QFont::DemiBold);
        badge->setObjectName("vpnBadge");
        QColor fill = Look::tealAccent(*this);
        badge->setStyleSheet(QStringLiteral("QLabel { background: rgba(%1, %2, %3, 46); border-radius: 7px; "
                                            "padding: 2px 6px; }")
                                 .arg(fill.red())
                                 .arg(fill.green())
                                 .arg(fill.blue()));
        line->addWidget(badge);
    }
    line->addStretch();
    line->addWidget(copy);
    connect(copy, &QToolButton::clicked, this, [this, text = address.toStdString()] {
        pasteboard_->clearContents();
        pasteboard_->setString(text);
    });
    return row;
}

} // namespace Plovander
