#pragma once

#include "app/ui/Card.h"

#include <QTimer>

class QBoxLayout;
class QLabel;
class QToolButton;
class QWidget;

namespace Plovander {

class StreamingSession;

// The open pairing offer: its QR code, its code with a copy button, the time left and Cancel.
class PairingPanel final : public Card {
    Q_OBJECT

public:
    explicit PairingPanel(StreamingSession& session, QWidget* parent = nullptr);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showOffer();
    void showCountdown();
    void copyCode();
    void showCopied(bool copied);

    StreamingSession& session_;
    QWidget* qrBlock_;
    QLabel* qr_;
    QLabel* scanTitle_;
    QBoxLayout* qrRow_;
    QLabel* code_;
    QToolButton* copy_;
    QWidget* countdown_;
    QLabel* countdownText_;
    QTimer tick_;
};

} // namespace Plovander
