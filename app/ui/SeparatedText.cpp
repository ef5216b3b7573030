#include "app/ui/SeparatedText.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>

namespace Plovander {

SeparatedText::SeparatedText(QChar separator, QWidget* parent) : QLabel(parent), separator_(separator) {
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void SeparatedText::setFullText(const QString& text) {
    full_ = text;
    setAccessibleName(full_);
    setText(lines(contentsRect().width()).join('\n'));
    updateGeometry();
}

QStringList SeparatedText::lines(int width) const {
    const QFontMetrics metrics(font());
    QStringList packed;
    QString line;
    QString group;
    const auto place = [&] {
        if (!line.isEmpty() && metrics.horizontalAdvance(line + group) > width) {
            packed << line;
            line.clear();
        }
        line += group;
        group.clear();
    };
    for (const QChar character : full_) {
        group += character;
        if (character == separator_) place();
    }
    place();
    if (!line.isEmpty()) packed << line;
    return packed;
}

int SeparatedText::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const auto count = std::max<qsizetype>(1, lines(width - margins.left() - margins.right()).size());
    return static_cast<int>(count) * fontMetrics().lineSpacing() + margins.top() + margins.bottom();
}

QSize SeparatedText::sizeHint() const {
    const QMargins margins = contentsMargins();
    const int width = fontMetrics().horizontalAdvance(full_) + margins.left() + margins.right();
    return {width, heightForWidth(width)};
}

QSize SeparatedText::minimumSizeHint() const {
    const QMargins margins = contentsMargins();
    int widest = 0;
    for (const QString& group : lines(0)) widest = std::max(widest, fontMetrics().horizontalAdvance(group));
    return {widest + margins.left() + margins.right(), fontMetrics().lineSpacing() + margins.top() + margins.bottom()};
}

void SeparatedText::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    setText(lines(contentsRect().width()).join('\n'));
}

void SeparatedText::copySelection() const {
    if (hasSelectedText()) QGuiApplication::clipboard()->setText(selectedText().remove('\n'));
}

void SeparatedText::keyPressEvent(QKeyEvent* event) {
    if (!event->matches(QKeySequence::Copy)) return QLabel::keyPressEvent(event);
    copySelection();
    event->accept();
}

void SeparatedText::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction("Copy", this, &SeparatedText::copySelection)->setEnabled(hasSelectedText());
    menu.addAction("Select All", this, [this] { setSelection(0, static_cast<int>(text().size())); });
    menu.exec(event->globalPos());
}

} // namespace Plovander
