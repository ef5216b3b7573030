#pragma once

#include <QObject>

class QSocketNotifier;

namespace Plovander {

// Turns SIGINT and SIGTERM into a clean quit of the Qt event loop.
class SignalQuitter final : public QObject {
public:
    explicit SignalQuitter(QObject* parent = nullptr);
    ~SignalQuitter() override;

private:
    QSocketNotifier* notifier_;
};

} // namespace Plovander
