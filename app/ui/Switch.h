#pragma once

#include <QAbstractButton>

namespace Plovander {

// An on/off switch: a rounded track with a sliding knob, checkable by click, Space or Return, and
// reported to assistive technology as a toggle button under its accessible name.
class Switch final : public QAbstractButton {
    Q_OBJECT

public:
    explicit Switch(const QString& accessibleName = {}, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace Plovander
