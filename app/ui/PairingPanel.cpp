#include "app/ui/PairingPanel.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/Look.h"
#include "app/ui/PairingQRCode.h"
#include "app/ui/SmallButton.h"
#include "app/ui/SymbolView.h"
#include "app/ui/decisions/DeviceNames.h"
#include "app/ui/decisions/PopoverTexts.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace Plovander {
namespace {

constexpr int qrSide = 132;

// The QR code beside what to do with it (headed by `scanTitle`), over a divider; returns the row of
// the two.
QBoxLayout* buildQRBlock(QWidget* block, QLabel* qr, QLabel* scanTitle) {
    qr->setObjectName("pairingQR");
    qr->setAccessibleName("Pairing QR code");
    qr->setFixedSize(qrSide + 16, qrSide + 16);
    qr->setAlignment(Qt::AlignCenter);
    qr->setStyleSheet("background: white; border-radius: 10px;");
    auto* scanText = new QVBoxLayout;
    scanText->setSpacing(6);
    scanText->addWidget(scanTitle);
    QLabel* scanHint = Look::label(QStringLiteral("Use the Camera app, or Add a Mac \u2192 Scan QR code in Plovander."),
                                   Look::Text::caption, QFont::Normal, true);
    scanText->addWidget(scanHint);
    scanText->addStretch();
    auto* qrRow = new QBoxLayout(QBoxLayout::LeftToRight);
    qrRow->setSpacing(14);
    qrRow->addWidget(qr);
    qrRow->addLayout(scanText, 1);
    auto* qrColumn = new QVBoxLayout(block);
    qrColumn->setContentsMargins(0, 0, 0, 0);
    qrColumn->setSpacing(12);
    qrColumn->addLayout(qrRow);
    qrColumn->addWidget(Look::divider());
    return qrRow;
}

QHBoxLayout* atEnds(QWidget* left, QWidget* right) {
    auto* row = new QHBoxLayout;
    row->addWidget(left);
    row->addStretch();
    row->addWidget(right);
    return row;
}

// The code in large fixed-width letters, and its copy button.
QHBoxLayout* codeRow(QLabel* code, QToolButton* copy) {
    QFont codeFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    codeFont.setPointSizeF(22);
    codeFont.setWeight(QFont::DemiBold);
    codeFont.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    code->setFont(codeFont);
    code->setObjectName("pairingCode");
    code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    copy->setObjectName("copyCode");
    copy->setAutoRaise(true);
    copy->setToolTip("Copy code");
    return atEnds(code, copy);
}

// The time left, and Cancel.
QHBoxLayout* expiryRow(QWidget* countdown, QLabel* countdownText, QPushButton* cancel) {
    auto* timerIcon = new SymbolView("timer", Tint::secondary, 12);
    auto* countdownRow = new QHBoxLayout(countdown);
    countdownRow->setContentsMargins(0, 0, 0, 0);
    countdownRow->addWidget(timerIcon);
    countdownRow->addWidget(countdownText);
    countdownText->setObjectName("countdown");
    cancel->setObjectName("cancelPairing");
    return atEnds(countdown, cancel);
}

} // namespace

PairingPanel::PairingPanel(StreamingSession& session, QWidget* parent)
    : Card(parent),
      session_(session),
      qrBlock_(new QWidget),
      qr_(new QLabel),
      scanTitle_(Look::label("Scan with your iPhone", Look::Text::body, QFont::DemiBold)),
      qrRow_(buildQRBlock(qrBlock_, qr_, scanTitle_)),
      code_(Look::label({}, Look::Text::body, QFont::DemiBold)),
      copy_(new QToolButton),
      countdown_(new QWidget),
      countdownText_(Look::label({}, Look::Text::caption, QFont::Normal, true)) {
    setObjectName("pairingPanel");
    auto* cancel = new SmallButton("Cancel");
    column()->addWidget(qrBlock_);
    column()->addWidget(
        Look::label("Or enter this code in Plovander on your iPhone", Look::Text::caption, QFont::Medium, true));
    column()->addLayout(codeRow(code_, copy_));
    column()->addLayout(expiryRow(countdown_, countdownText_, cancel));
    column()->addWidget(Look::label(QStringLiteral("Works once. You'll be asked to allow the device here."),
                                    Look::Text::caption2, QFont::Normal, true));

    connect(copy_, &QToolButton::clicked, this, &PairingPanel::copyCode);
    connect(cancel, &QPushButton::clicked, this,
            [this] { session_.stopSharing(StreamingSession::StopReason::userStopped()); });
    connect(&session_, &StreamingSession::pairingCodeChanged, this, [this] {
        showCopied(false);
        showOffer();
    });
    connect(&session_, &StreamingSession::pairingLinkChanged, this, &PairingPanel::showOffer);
    connect(&session_, &StreamingSession::pairingExpiresAtChanged, this, &PairingPanel::showOffer);
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &PairingPanel::showCountdown);
    showCopied(false);
    showOffer();
}

void PairingPanel::resizeEvent(QResizeEvent* event) {
    Card::resizeEvent(event);
    // Beside the code there is room for a few words a line: where the title would take more than two
    // lines there, the text goes under the code.
    const int beside = column()->contentsRect().width() - qr_->width() - qrRow_->spacing();
    const bool fits = scanTitle_->heightForWidth(beside) < 3 * scanTitle_->fontMetrics().lineSpacing();
    qrRow_->setDirection(fits ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
}

void PairingPanel::showOffer() {
    const QString code = session_.pairingCode() ? QString::fromStdString(*session_.pairingCode()) : QString();
    code_->setText(code);
    code_->setAccessibleName(QStringLiteral("Pairing code ") + spokenCode(code));

    const QImage image =
        session_.pairingLink() ? pairingQRImage(QString::fromStdString(*session_.pairingLink())) : QImage();
    qrBlock_->setVisible(!image.isNull());
    if (!image.isNull()) {
        // Exactly the side in points, in the screen's own pixels.
        const qreal ratio = devicePixelRatioF();
        QPixmap shown = QPixmap::fromImage(fittedQRImage(image, qRound(qrSide * ratio)));
        shown.setDevicePixelRatio(ratio);
        qr_->setPixmap(shown);
    }

    const auto expires = session_.pairingExpiresAt();
    const bool future = expires && *expires > session_.now();
    countdown_->setVisible(future);
    if (future) {
        tick_.start();
        showCountdown();
    } else {
        tick_.stop();
    }
}

void PairingPanel::showCountdown() {
    const auto expires = session_.pairingExpiresAt();
    if (!expires) return;
    const std::chrono::duration<double> left = *expires - session_.now();
    countdownText_->setText(QStringLiteral("Expires in ") + PopoverTexts::countdownText(left));
}

void PairingPanel::copyCode() {
    const QString code = session_.pairingCode() ? QString::fromStdString(*session_.pairingCode()) : QString();
    QGuiApplication::clipboard()->setText(code);
    showCopied(true);
}

void PairingPanel::showCopied(bool copied) {
    copy_->setIcon(Look::symbol(copied ? "checkmark" : "doc.on.doc", Tint::accent));
    copy_->setAccessibleName(copied ? "Copied" : "Copy code");
}

} // namespace Plovander
