#include "app/ui/PairedDevicesSection.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/DeviceRow.h"
#include "app/ui/FlowRow.h"
#include "app/ui/Look.h"
#include "app/ui/PairDeviceButton.h"
#include "app/ui/decisions/RelativeDate.h"
#include "net/channel/SelfSignedCertificate.h"

#include <QAccessible>
#include <QLabel>
#include <QVBoxLayout>

namespace Plovander {

PairedDevicesSection::PairedDevicesSection(StreamingSession& session, CaptureProbe& capture, QWidget* parent)
    : QWidget(parent), session_(session), rowsColumn_(new QVBoxLayout) {
    setObjectName("pairedDevices");
    // With large text the button goes under the title rather than squeeze it.
    auto* header = new FlowRow;
    header->addWidget(Look::label("Paired devices", Look::Text::caption, QFont::DemiBold, true), false);
    header->addStretch();
    header->addWidget(new PairDeviceButton(session, capture, false), false);
    rowsColumn_->setContentsMargins(0, 0, 0, 0);
    rowsColumn_->setSpacing(8);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addLayout(header);
    column->addLayout(rowsColumn_);
    for (auto signal : {&StreamingSession::pairedDevicesChanged, &StreamingSession::isSharingChanged,
                        &StreamingSession::connectedPeerNameChanged}) {
        connect(&session_, signal, this, &PairedDevicesSection::refresh);
    }
    refresh();
}

bool PairedDevicesSection::isConnected(const TessaloyNet::PairedDevice& device) const {
    const auto& key = session_.peerKey();
    return session_.isSharing() && key && TessaloyNet::SelfSignedCertificate::matches(*key, device.publicKey);
}

const TessaloyNet::PairedDevice* PairedDevicesSection::deviceWith(const TessaloyCore::Bytes& key) const {
    for (const auto& device : session_.pairedDevices()) {
        if (device.publicKey == key) return &device;
    }
    return nullptr;
}

DeviceRow* PairedDevicesSection::rowFor(const TessaloyCore::Bytes& key) {
    if (const auto found = rows_.find(key); found != rows_.end()) return found->second;
    auto* row = new DeviceRow(this);
    connect(row, &DeviceRow::renameRequested, this, [this, row, key] {
        if (const auto* device = deviceWith(key)) {
            renaming_ = key;
            refresh();
            row->beginRename(QString::fromStdString(device->name));
        }
    });
    connect(row, &DeviceRow::renameSubmitted, this, [this, key] { saveRename(key); });
    connect(row, &DeviceRow::renameEscaped, this, [this] {
        renaming_.reset();
        refresh();
    });
    connect(row, &DeviceRow::forgetRequested, this, [this, key] {
        confirmingForget_ = key;
        refresh();
    });
    connect(row, &DeviceRow::forgetCancelled, this, [this] {
        confirmingForget_.reset();
        refresh();
    });
    connect(row, &DeviceRow::forgetConfirmed, this, [this, key] {
        confirmingForget_.reset();
        if (const auto* device = deviceWith(key)) {
            const TessaloyNet::PairedDevice forgotten = *device;
            session_.forgetDevice(forgotten);
        }
        refresh();
    });
    rows_.emplace(key, row);
    return row;
}

void PairedDevicesSection::saveRename(const TessaloyCore::Bytes& key) {
    const auto found = rows_.find(key);
    const auto* device = deviceWith(key);
    if (found == rows_.end() || !device) return;
    const TessaloyNet::PairedDevice renamed = *device;
    const std::optional<QString> typed = found->second->typedName();
    renaming_.reset();
    if (typed) session_.renameDevice(renamed, typed->toStdString());
    refresh();
}

void PairedDevicesSection::refresh() {
    const auto now = session_.now();
    decltype(rows_) kept;
    for (const auto& device : session_.pairedDevices()) {
        DeviceRow* row = rowFor(device.publicKey);
        rows_.erase(device.publicKey);
        const QString when = device.lastSeenAt
                                 ? QStringLiteral("Last connected ") + relativeDate(*device.lastSeenAt, now)
                                 : QStringLiteral("Paired ") + relativeDate(device.pairedAt, now);
        row->present(device, {.connected = isConnected(device),
                              .renaming = renaming_ == device.publicKey,
                              .confirmingForget = confirmingForget_ == device.publicKey,
                              .status = when});
        kept.emplace(device.publicKey, row);
        rowsColumn_->removeWidget(row);
        rowsColumn_->addWidget(row);
        // A layout shows a new child only on the next turn of the event loop.
        row->setVisible(true);
    }
    for (const auto& [key, row] : rows_) {
        rowsColumn_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    rows_ = std::move(kept);
}

} // namespace Plovander
