#include "app/ui/CheckRow.h"

#include "app/ui/Look.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace Plovander {

CheckRow::CheckRow(const QString& title, const QString& detail, QWidget* parent)
    : QWidget(parent), box_(new QCheckBox) {
    box_->setAccessibleName(title);
    QLabel* titleLabel = Look::label(title, Look::Text::callout);
    // The box is drawn in the middle of its height: as tall as the title's first line, it is in line with it.
    box_->setMinimumHeight(titleLabel->fontMetrics().height());
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    text->addWidget(titleLabel);
    text->addWidget(Look::label(detail, Look::Text::caption, QFont::Normal, true));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(box_, 0, Qt::AlignTop);
    row->addLayout(text, 1);
}

void CheckRow::mousePressEvent(QMouseEvent* event) { event->accept(); }

void CheckRow::mouseReleaseEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint())) box_->click();
}

} // namespace Plovander
