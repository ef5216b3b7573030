#pragma once

#include "app/ui/Card.h"
#include "app/ui/decisions/PopoverTexts.h"

namespace Plovander {

class IconTile;
class StatusLabel;

// The middle panel while starting, available or not available: a tile, a title and a subtitle.
class StatusCard final : public Card {
    Q_OBJECT

public:
    explicit StatusCard(QWidget* parent = nullptr);
    void present(const PopoverTexts::StatusCard& card);

private:
    IconTile* tile_;
    StatusLabel* label_;
};

} // namespace Plovander
