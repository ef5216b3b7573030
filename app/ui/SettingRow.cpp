#include "app/ui/SettingRow.h"

#include "app/ui/Look.h"
#include "app/ui/Switch.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace Plovander {

SettingRow::SettingRow(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent), switch_(new Switch(title)) {
    switch_->setObjectName("switch");
    QLabel* detail = Look::label(subtitle, Look::Text::caption, QFont::Normal, true);
    auto* text = new QVBoxLayout;
    text->setSpacing(1);
    text->addWidget(Look::label(title, Look::Text::callout));
    text->addWidget(detail);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addLayout(text, 1);
    row->addWidget(switch_, 0, Qt::AlignVCenter);
    connect(switch_, &Switch::toggled, this, &SettingRow::toggled);
}

void SettingRow::present(bool on) {
    const QSignalBlocker quiet(switch_);
    switch_->setChecked(on);
}

} // namespace Plovander
