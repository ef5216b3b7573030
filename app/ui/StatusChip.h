#pragma once

#include "app/ui/decisions/MenuStatus.h"

#include <QWidget>

namespace Plovander {

// The status word in the header: a dot and the word in the status colour on a faint capsule.
class StatusChip final : public QWidget {
    Q_OBJECT

public:
    explicit StatusChip(QWidget* parent = nullptr);
    void present(MenuStatus status);
    QString text() const { return text_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    Tint tint_ = Tint::secondary;
};

} // namespace Plovander
