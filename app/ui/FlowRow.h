#pragma once

#include <QLayout>

#include <vector>

namespace Plovander {

// A row that moves items onto a further line once they no longer fit beside each other, so large
// text never pushes a row wider than its window; an item that grows gives way to the items after
// it down to half its line. On each line the items that grow share the room that is left, equally
// where they can: a row's trailing item stays at the right edge, and a pair of buttons splits the
// line evenly. Items are centred on their line's height.
class FlowRow final : public QLayout {
public:
    explicit FlowRow(QWidget* parent = nullptr);
    ~FlowRow() override;

    void addWidget(QWidget* widget, bool grows);
    void addLayout(QLayout* layout, bool grows);
    // Room that pushes the item after it to the end of its line.
    void addStretch();

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& area) override;

private:
    struct Entry {
        QLayoutItem* item;
        bool grows;
    };
    // Lays the items out in `area` (placing them when `place`), and returns the height used.
    int arrange(const QRect& area, bool place) const;

    std::vector<Entry> entries_;
};

} // namespace Plovander
