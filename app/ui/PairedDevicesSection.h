#pragma once

#include "core/Bytes.h"
#include "net/channel/PairedDevice.h"

#include <QWidget>

#include <map>
#include <optional>

class QVBoxLayout;

namespace Plovander {

class CaptureProbe;
class DeviceRow;
class StreamingSession;

// "Paired devices": the header with the small "Pair a device", then one row per paired device,
// kept by key so an open rename field survives the list being reloaded.
class PairedDevicesSection final : public QWidget {
    Q_OBJECT

public:
    PairedDevicesSection(StreamingSession& session, CaptureProbe& capture, QWidget* parent = nullptr);
    // Brings the relative dates up to now.
    void refresh();

private:
    DeviceRow* rowFor(const TessaloyCore::Bytes& key);
    const TessaloyNet::PairedDevice* deviceWith(const TessaloyCore::Bytes& key) const;
    bool isConnected(const TessaloyNet::PairedDevice& device) const;
    void saveRename(const TessaloyCore::Bytes& key);

    StreamingSession& session_;
    QVBoxLayout* rowsColumn_;
    std::map<TessaloyCore::Bytes, DeviceRow*, TessaloyCore::BytesOrder> rows_;
    // At most one row renames and at most one asks to confirm forgetting, each by key.
    std::optional<TessaloyCore::Bytes> renaming_;
    std::optional<TessaloyCore::Bytes> confirmingForget_;
};

} // namespace Plovander
