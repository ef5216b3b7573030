#pragma once

#include <QLabel>

namespace Plovander {

// A code or an address, such as this computer's ID or an address with its port, that is read in
// groups: it keeps to one line while it fits and otherwise breaks only after one of its separators,
// never inside a group. Selectable; copying gives the text as it is, without the breaks.
class SeparatedText final : public QLabel {
    Q_OBJECT

public:
    explicit SeparatedText(QChar separator, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const noexcept { return full_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The text's groups packed into lines no wider than `width`.
    QStringList lines(int width) const;
    void copySelection() const;

    QChar separator_;
    QString full_;
};

} // namespace Plovander
