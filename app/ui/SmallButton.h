#pragma once

#include <QPushButton>

namespace Plovander {

// A push button in the small control size: the caption font, and only as wide as its label needs
// (the style's minimum width of ordinary buttons would make "End" as wide as "Disconnect").
class SmallButton final : public QPushButton {
    Q_OBJECT

public:
    explicit SmallButton(const QString& text, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
};

} // namespace Plovander
