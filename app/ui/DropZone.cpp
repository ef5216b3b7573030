#include "app/ui/DropZone.h"

#include "app/ui/Look.h"
#include "app/ui/SymbolView.h"
#include "app/ui/decisions/FilesTexts.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace Plovander {

DropZone::DropZone(QWidget* parent)
    : QWidget(parent),
      icon_(new SymbolView("tray", Tint::secondary, 30)),
      title_(Look::label({}, Look::Text::headline)),
      detail_(Look::label({}, Look::Text::callout, QFont::Normal, true)),
      choose_(new QPushButton(QStringLiteral("Choose Files\u2026"))) {
    setObjectName("dropZone");
    setAcceptDrops(true);
    setMinimumHeight(140 + 24);
    title_->setObjectName("dropTitle");
    detail_->setObjectName("dropDetail");
    choose_->setObjectName("chooseFiles");
    for (QLabel* label : {title_, detail_}) label->setAlignment(Qt::AlignCenter);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);
    column->addStretch();
    column->addWidget(icon_, 0, Qt::AlignHCenter);
    column->addWidget(title_);
    column->addWidget(detail_);
    column->addWidget(choose_, 0, Qt::AlignHCenter);
    column->addStretch();
    connect(choose_, &QPushButton::clicked, this, &DropZone::chooseRequested);
}

void DropZone::present(bool isSharing, bool allowsRemoteControl) {
    canSend_ = FilesTexts::canSend(isSharing, allowsRemoteControl);
    const auto texts = FilesTexts::dropZone(isSharing, allowsRemoteControl);
    icon_->setSymbol(texts.symbol, canSend_ ? Tint::accent : Tint::secondary);
    title_->setText(texts.title);
    detail_->setText(texts.detail);
    choose_->setVisible(canSend_);
    update();
}

void DropZone::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool lit = targeted_ && canSend_;
    const QColor accent = Look::tealAccent(*this);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 12, 12);
    if (lit) {
        QColor fill = accent;
        fill.setAlphaF(0.08f);
        painter.fillPath(shape, fill);
    }
    QColor border = lit ? accent : Look::color(Tint::secondary, *this);
    if (!lit) border.setAlphaF(0.4f);
    QPen pen(border, 1.5);
    pen.setDashPattern({4, 4});
    painter.setPen(pen);
    painter.drawPath(shape);
}

void DropZone::dragEnterEvent(QDragEnterEvent* event) {
    // While sending is off the drag is refused and the zone stays as it is.
    if (!event->mimeData()->hasUrls() || !canSend_) return;
    targeted_ = true;
    update();
    event->acceptProposedAction();
}

void DropZone::dragLeaveEvent(QDragLeaveEvent*) {
    targeted_ = false;
    update();
}

void DropZone::dropEvent(QDropEvent* event) {
    targeted_ = false;
    update();
    if (!canSend_) return event->ignore();
    std::vector<std::filesystem::path> files;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) files.emplace_back(url.toLocalFile().toStdString());
    }
    event->acceptProposedAction();
    Q_EMIT filesDropped(files);
}

} // namespace Plovander
