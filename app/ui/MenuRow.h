#pragma once

#include <QAbstractButton>

namespace Plovander {

// A popover command: its title and, at the right, its shortcut as text; the whole row highlights
// in the accent colour under the pointer and is clickable anywhere.
class MenuRow final : public QAbstractButton {
    Q_OBJECT

public:
    // How far the title sits in from the row's edge.
    static constexpr int inset = 6;

    MenuRow(QString title, QString shortcut, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString shortcut_;
    bool hovering_ = false;
};

} // namespace Plovander
