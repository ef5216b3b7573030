#pragma once

#include <QScrollArea>

namespace Plovander {

// A column that is as tall as its content while its window can give it that height, and scrolls
// vertically once it cannot; nothing in it scrolls sideways. Its owner fixes its width, which its
// content always fills.
class ScrollingColumn final : public QScrollArea {
    Q_OBJECT

public:
    explicit ScrollingColumn(QWidget* content, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool viewportEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The scroll bar shows only while the column is shorter than its content at its full width:
    // left to itself, a bar once shown narrows the content, which then wraps taller and keeps it.
    void fitScrollBar();
};

} // namespace Plovander
