#pragma once

#include <QLabel>

namespace Plovander {

// Plain text that keeps to one line while it has the room, and wraps between words where it has
// not (Qt's own wrapping label asks for a guessed, narrower width, and so wraps early beside other
// widgets). A secondary label draws its text at half the window text's strength, taken from the
// palette at each paint so that it follows a switch between light and dark.
class TextLabel final : public QLabel {
    Q_OBJECT

public:
    explicit TextLabel(const QString& text = {}, bool secondary = false, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool secondary_;
};

} // namespace Plovander
