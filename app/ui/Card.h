#pragma once

#include <QFrame>

class QVBoxLayout;

namespace Plovander {

// The rounded panel behind the popover's middle sections: its content in a column, spacing 12,
// inset 14.
class Card : public QFrame {
    Q_OBJECT

public:
    explicit Card(QWidget* parent = nullptr);
    QVBoxLayout* column() const { return column_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* column_;
};

} // namespace Plovander
