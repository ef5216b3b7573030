#include "app/ui/StatusLabel.h"

#include "app/ui/Look.h"

#include <QLabel>
#include <QVBoxLayout>

namespace Plovander {

StatusLabel::StatusLabel(QWidget* parent)
    : QWidget(parent),
      title_(Look::label({}, Look::Text::callout, QFont::DemiBold)),
      subtitle_(Look::label({}, Look::Text::caption, QFont::Normal, true)) {
    title_->setObjectName("title");
    subtitle_->setObjectName("subtitle");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(title_);
    column->addWidget(subtitle_);
}

void StatusLabel::set(const QString& title, const QString& subtitle) {
    title_->setText(title);
    subtitle_->setText(subtitle);
}

} // namespace Plovander
