#pragma once

#include <QPushButton>

namespace Plovander {

// A button in one of two looks: prominent, a filled rounded shape in the accent colour (or red, for
// a destructive action) with a light label; or borderless, the label alone with its symbol in the
// accent colour. It paints from the palette each time, so it follows a light/dark switch, and shows
// keyboard focus with a ring.
class ProminenceButton : public QPushButton {
    Q_OBJECT

public:
    ProminenceButton(const QString& text, bool prominent, QWidget* parent = nullptr);
    // A symbol before the text, by the name the views use.
    void setSymbol(const QString& name);
    void setDestructive(bool destructive);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill() const;

    const bool prominent_;
    bool destructive_ = false;
    QString symbol_;
};

} // namespace Plovander
