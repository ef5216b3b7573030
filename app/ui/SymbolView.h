#pragma once

#include "app/ui/decisions/MenuStatus.h"

#include <QWidget>

namespace Plovander {

// A bundled symbol shown on its own, drawn at every paint in its tint from the widget's palette, so
// it follows a switch between light and dark. Centred in its frame.
class SymbolView final : public QWidget {
    Q_OBJECT

public:
    SymbolView(QString name, Tint tint, int size, QWidget* parent = nullptr);
    void setSymbol(QString name, Tint tint);
    QSize sizeHint() const override { return {size_, size_}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name_;
    Tint tint_;
    int size_;
};

} // namespace Plovander
