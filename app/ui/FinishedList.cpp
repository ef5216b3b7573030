#include "app/ui/FinishedList.h"

#include "app/ui/ElidedLabel.h"
#include "app/ui/Look.h"
#include "app/ui/SymbolView.h"
#include "app/ui/decisions/DeviceNames.h"
#include "app/ui/decisions/FilesTexts.h"
#include "platform/Workspace.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace Plovander {
namespace {

FilesTexts::FinishedLook lookOf(const HostTransfers::Finished& finished) {
    using Outcome = HostTransfers::Finished::Outcome;
    if (const auto* failed = std::get_if<Outcome::Failed>(&finished.outcome.value)) {
        return FilesTexts::finished(FilesTexts::Outcome::failed, finished.isIncoming,
                                    QString::fromStdString(failed->text));
    }
    const bool done = std::holds_alternative<Outcome::Done>(finished.outcome.value);
    return FilesTexts::finished(done ? FilesTexts::Outcome::done : FilesTexts::Outcome::cancelled, finished.isIncoming,
                                {});
}

} // namespace

FinishedList::FinishedList(HostTransfers& transfers, Platform::Workspace& workspace, QWidget* parent)
    : QWidget(parent), transfers_(transfers), workspace_(workspace), rowsColumn_(new QVBoxLayout) {
    setObjectName("recent");
    rowsColumn_->setContentsMargins(0, 0, 0, 0);
    rowsColumn_->setSpacing(8);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(Look::label("Recent", Look::Text::caption, QFont::DemiBold, true));
    column->addLayout(rowsColumn_);
    connect(&transfers_, &HostTransfers::finishedChanged, this, &FinishedList::reconcile);
    reconcile();
}

QWidget* FinishedList::makeRow(const HostTransfers::Finished& finished) {
    auto* row = new QWidget(this);
    row->setObjectName("finishedRow");
    const auto look = lookOf(finished);
    auto* icon = new SymbolView(look.symbol, look.tint, 16);
    const QString name = plainName(QString::fromStdString(finished.name));
    auto* nameLabel = new ElidedLabel(false, Qt::ElideMiddle);
    nameLabel->setFont(Look::font(Look::Text::callout));
    nameLabel->setFullText(name);
    QLabel* line = Look::label(look.line, Look::Text::caption, QFont::Normal, true);
    line->setObjectName("outcome");
    auto* text = new QVBoxLayout;
    text->setSpacing(1);
    text->addWidget(nameLabel);
    text->addWidget(line);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(icon);
    layout->addLayout(text, 1);
    if (finished.url) {
        auto* reveal = new QToolButton;
        reveal->setObjectName("reveal");
        reveal->setAutoRaise(true);
        reveal->setIcon(Look::symbol("magnifyingglass.circle", Tint::secondary));
        reveal->setToolTip("Show in Folder");
        reveal->setAccessibleName(QStringLiteral("Show ") + name + QStringLiteral(" in Folder"));
        connect(reveal, &QToolButton::clicked, this, [this, file = *finished.url] { workspace_.reveal(file); });
        layout->addWidget(reveal);
    }
    return row;
}

void FinishedList::reconcile() {
    std::map<QUuid, QWidget*> kept;
    const auto& finished = transfers_.finished();
    for (std::size_t index = 0; index < finished.size() && index < shown; ++index) {
        const auto& record = finished[index];
        QWidget* row = nullptr;
        if (const auto found = rows_.find(record.id); found != rows_.end()) {
            row = found->second;
            rows_.erase(found);
        } else {
            row = makeRow(record);
        }
        kept.emplace(record.id, row);
        rowsColumn_->removeWidget(row);
        rowsColumn_->addWidget(row);
        // A layout shows a new child only on the next turn of the event loop.
        row->setVisible(true);
    }
    for (const auto& [id, row] : rows_) delete row;
    rows_ = std::move(kept);
}

} // namespace Plovander
