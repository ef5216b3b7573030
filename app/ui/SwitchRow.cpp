#include "app/ui/SwitchRow.h"

#include "app/ui/Look.h"
#include "app/ui/Switch.h"
#include "app/ui/SymbolView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace Plovander {

SwitchRow::SwitchRow(QString symbol, const QString& title, QWidget* parent)
    : QWidget(parent),
      symbol_(std::move(symbol)),
      icon_(new SymbolView(symbol_, Tint::secondary, 14)),
      subtitle_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      switch_(new Switch(title)) {
    icon_->setFixedWidth(20);
    subtitle_->setObjectName("subtitle");
    switch_->setObjectName("switch");
    auto* text = new QVBoxLayout;
    text->setSpacing(1);
    text->addWidget(Look::label(title, Look::Text::callout, QFont::Medium));
    text->addWidget(subtitle_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(icon_);
    row->addLayout(text, 1);
    row->addSpacing(8);
    row->addWidget(switch_);
    connect(switch_, &Switch::toggled, this, &SwitchRow::toggled);
}

void SwitchRow::present(bool checked, bool symbolOn, const QString& subtitle) {
    const QSignalBlocker quiet(switch_);
    switch_->setChecked(checked);
    subtitle_->setText(subtitle);
    icon_->setSymbol(symbol_, symbolOn ? Tint::accent : Tint::secondary);
}

} // namespace Plovander
