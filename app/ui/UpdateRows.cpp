#include "app/ui/UpdateRows.h"

#include "app/runtime/TaskHandle.h"
#include "app/ui/Look.h"
#include "app/ui/MenuRow.h"
#include "app/ui/decisions/SettingsTexts.h"
#include "app/updater/MacUpdater.h"

#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace Plovander {

using Kind = SettingsTexts::UpdateRow::Kind;

UpdateRows::UpdateRows(MacUpdater& updater, QWidget* parent)
    : QWidget(parent),
      updater_(updater),
      note_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      row_(new MenuRow({}, {})) {
    note_->setObjectName("updateNote");
    note_->setContentsMargins(6, 4, 6, 4);
    row_->setObjectName("updateRow");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(note_);
    column->addWidget(row_);
    connect(row_, &MenuRow::clicked, this, &UpdateRows::activate);
    refresh();
}

void UpdateRows::refreshSoon() { QTimer::singleShot(0, this, &UpdateRows::refresh); }

void UpdateRows::refresh() {
    const auto note = SettingsTexts::updateFailureNote(updater_.status());
    note_->setText(note.value_or(QString()));
    note_->setVisible(note.has_value());
    const auto row =
        SettingsTexts::updateRow(updater_.isInstalling(), updater_.status(), updater_.available(), checking_);
    row_->setText(row.title);
    row_->setAccessibleName(row.title);
    row_->setEnabled(row.kind != Kind::progress);
}

void UpdateRows::activate() {
    const auto row =
        SettingsTexts::updateRow(updater_.isInstalling(), updater_.status(), updater_.available(), checking_);
    const QPointer<UpdateRows> self(this);
    MacUpdater* updater = &updater_;
    if (row.kind == Kind::install) {
        // Installing from here is always allowed and reports to no one; the rows follow the updater.
        TaskHandle::detach([updater](CancellationToken) -> QCoro::Task<> {
            co_await updater->installUpdate([] { return true; }, [](auto, const auto&) {});
        });
        return refresh();
    }
    if (row.kind != Kind::check || checking_) return;
    checking_ = true;
    refresh();
    TaskHandle::detach([self, updater](CancellationToken) -> QCoro::Task<> {
        co_await updater->checkForUpdate();
        if (!self) co_return;
        self->checking_ = false;
        self->refresh();
    });
}

} // namespace Plovander
