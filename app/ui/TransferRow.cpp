#include "app/ui/TransferRow.h"

#include "app/ui/Look.h"
#include "app/ui/SymbolView.h"
#include "app/ui/decisions/DeviceNames.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace Plovander {

TransferRow::TransferRow(const HostTransfers::Activity& activity, bool windowStyle, QWidget* parent)
    : QWidget(parent),
      windowStyle_(windowStyle),
      titleLabel_(Look::label({}, windowStyle ? Look::Text::callout : Look::Text::caption)),
      progress_(new QProgressBar),
      cancel_(new QToolButton) {
    setObjectName("transferRow");
    const QString symbol = activity.isIncoming ? "arrow.down.circle" : "arrow.up.circle";
    auto* arrow = new SymbolView(windowStyle ? symbol + ".fill" : symbol, Tint::accent, 16);
    titleLabel_->setMinimumWidth(40);
    titleLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(6);
    cancel_->setObjectName("cancelTransfer");
    cancel_->setAutoRaise(true);
    cancel_->setIcon(Look::symbol("xmark.circle.fill", Tint::secondary));
    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    text->addWidget(titleLabel_);
    text->addWidget(progress_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(arrow);
    row->addLayout(text, 1);
    row->addWidget(cancel_);
    connect(cancel_, &QToolButton::clicked, this, &TransferRow::cancelRequested);
    present(activity);
}

void TransferRow::present(const HostTransfers::Activity& activity) {
    const QString name = plainName(QString::fromStdString(activity.name));
    title_ =
        windowStyle_ ? name : (activity.isIncoming ? QStringLiteral("Receiving ") : QStringLiteral("Sending ")) + name;
    titleLabel_->setAccessibleName(title_);
    cancel_->setAccessibleName(QStringLiteral("Cancel ") + name);
    progress_->setValue(static_cast<int>(std::clamp(activity.fraction, 0.0, 1.0) * 1000));
    elide();
}

void TransferRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    elide();
}

void TransferRow::elide() {
    titleLabel_->setText(titleLabel_->fontMetrics().elidedText(title_, Qt::ElideMiddle, titleLabel_->width()));
}

} // namespace Plovander
