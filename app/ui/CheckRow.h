#pragma once

#include <QWidget>

class QCheckBox;

namespace Plovander {

// A checkbox whose label wraps within the row, as a checkbox's own text cannot: a title, and below
// it a detail in the secondary style. A click on the label toggles the box, as on a box's own text.
class CheckRow final : public QWidget {
    Q_OBJECT

public:
    CheckRow(const QString& title, const QString& detail, QWidget* parent = nullptr);
    QCheckBox& box() const { return *box_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QCheckBox* box_;
};

} // namespace Plovander
