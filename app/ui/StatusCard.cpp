#include "app/ui/StatusCard.h"

#include "app/ui/IconTile.h"
#include "app/ui/StatusLabel.h"

#include <QHBoxLayout>

namespace Plovander {

StatusCard::StatusCard(QWidget* parent)
    : Card(parent), tile_(new IconTile("hourglass", Tint::accent)), label_(new StatusLabel) {
    setObjectName("statusCard");
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(tile_);
    row->addWidget(label_, 1);
    column()->addLayout(row);
}

void StatusCard::present(const PopoverTexts::StatusCard& card) {
    tile_->setSymbol(card.symbol, card.tint);
    label_->set(card.title, card.subtitle);
}

} // namespace Plovander
