#include "app/ui/ProblemBanner.h"

#include "app/ui/Look.h"
#include "app/ui/SymbolView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace Plovander {

ProblemBanner::ProblemBanner(QWidget* parent) : QFrame(parent), text_(Look::label({}, Look::Text::caption)) {
    text_->setObjectName("problemText");
    auto* icon = new SymbolView("exclamationmark.triangle.fill", Tint::orange, 14);
    auto* dismiss = new QToolButton;
    dismiss->setObjectName("dismiss");
    dismiss->setAccessibleName("Dismiss");
    dismiss->setAutoRaise(true);
    dismiss->setIcon(Look::symbol("xmark", Tint::secondary));
    dismiss->setIconSize(QSize(12, 12));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(8);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(text_, 1);
    row->addWidget(dismiss, 0, Qt::AlignTop);
    connect(dismiss, &QToolButton::clicked, this, &ProblemBanner::dismissed);
    setVisible(false);
}

void ProblemBanner::present(const std::optional<std::string>& text) {
    text_->setText(text ? QString::fromStdString(*text) : QString());
    setVisible(text.has_value());
}

void ProblemBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Look::fillRounded(painter, QRectF(rect()), 10, Look::color(Tint::orange, *this), 0.12f);
}

} // namespace Plovander
