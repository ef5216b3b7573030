#include "app/ui/Section.h"

#include "app/ui/Card.h"
#include "app/ui/Look.h"

#include <QLabel>
#include <QVBoxLayout>

namespace Plovander {

Section::Section(const QString& title, QWidget* parent) : QWidget(parent) {
    QLabel* header = Look::label(title, Look::Text::caption, QFont::DemiBold, true);
    header->setObjectName("sectionTitle");
    header->setContentsMargins(4, 0, 0, 0);
    auto* panel = new Card;
    column_ = panel->column();
    column_->setSpacing(10);
    column_->setContentsMargins(12, 12, 12, 12);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    stack->addWidget(header);
    stack->addWidget(panel);
}

} // namespace Plovander
