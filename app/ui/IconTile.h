#pragma once

#include "app/ui/decisions/MenuStatus.h"

#include <QWidget>

namespace Plovander {

// The square symbol tile of the status cards and panels: the symbol in its colour on a 38-point
// rounded square of the same colour, faint.
class IconTile final : public QWidget {
    Q_OBJECT

public:
    IconTile(QString symbol, Tint tint, QWidget* parent = nullptr);
    void setSymbol(QString symbol, Tint tint);
    QSize sizeHint() const override { return {38, 38}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    Tint tint_;
};

} // namespace Plovander
