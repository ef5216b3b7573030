#include "app/ui/DeviceRow.h"

#include "app/ui/ElidedLabel.h"
#include "app/ui/FlowRow.h"
#include "app/ui/Look.h"
#include "app/ui/ProminenceButton.h"
#include "app/ui/RenameField.h"
#include "app/ui/SmallButton.h"
#include "app/ui/SymbolView.h"
#include "app/ui/decisions/DeviceNames.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace Plovander {

DeviceRow::DeviceRow(QWidget* parent)
    : QWidget(parent),
      icon_(new SymbolView("iphone", Tint::secondary, 14)),
      info_(new QWidget),
      name_(new ElidedLabel),
      status_(Plovander::Look::label({}, Plovander::Look::Text::caption, QFont::Normal, true)),
      options_(new QToolButton),
      confirm_(new QWidget),
      editor_(new QWidget),
      field_(new RenameField) {
    setObjectName("deviceRow");
    setMinimumHeight(32);
    icon_->setFixedWidth(20);
    name_->setObjectName("deviceName");
    name_->setFont(Plovander::Look::font(Plovander::Look::Text::callout));
    status_->setObjectName("deviceStatus");

    options_->setObjectName("deviceOptions");
    options_->setAutoRaise(true);
    options_->setPopupMode(QToolButton::InstantPopup);
    options_->setStyleSheet("QToolButton::menu-indicator { image: none; }");
    options_->setIcon(Plovander::Look::symbol("ellipsis.circle", Tint::secondary));
    auto* menu = new QMenu(options_);
    menu->addAction(QStringLiteral("Rename\u2026"), this, &DeviceRow::renameRequested)->setObjectName("rename");
    menu->addAction(QStringLiteral("Forget\u2026"), this, &DeviceRow::forgetRequested)->setObjectName("forget");
    options_->setMenu(menu);

    auto* text = new QVBoxLayout(info_);
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(1);
    text->addWidget(name_);
    text->addWidget(status_);

    auto* cancel = new SmallButton("Cancel");
    cancel->setObjectName("cancelForget");
    auto* forget = new ProminenceButton("Forget", true);
    forget->setObjectName("confirmForget");
    forget->setDestructive(true);
    forget->setFont(Plovander::Look::font(Plovander::Look::Text::caption));
    auto* confirmRow = new QHBoxLayout(confirm_);
    confirmRow->setContentsMargins(0, 0, 0, 0);
    confirmRow->setSpacing(6);
    confirmRow->addWidget(cancel);
    confirmRow->addWidget(forget);

    field_->setObjectName("renameField");
    field_->setAccessibleName("Name");
    field_->setPlaceholderText("Name");
    auto* save = new SmallButton("Save");
    save->setObjectName("saveRename");
    auto* editRow = new QHBoxLayout(editor_);
    editRow->setContentsMargins(0, 0, 0, 0);
    editRow->addWidget(field_, 1);
    editRow->addWidget(save);

    // With large text the forget confirmation goes under the name rather than squeeze it.
    auto* beside = new FlowRow;
    beside->setSpacing(10);
    beside->addWidget(info_, true);
    beside->addWidget(confirm_, false);
    beside->addWidget(editor_, true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(10);
    row->addWidget(icon_);
    row->addLayout(beside, 1);
    row->addWidget(options_);

    connect(cancel, &QPushButton::clicked, this, &DeviceRow::forgetCancelled);
    connect(forget, &QPushButton::clicked, this, &DeviceRow::forgetConfirmed);
    connect(save, &QPushButton::clicked, this, &DeviceRow::renameSubmitted);
    connect(field_, &RenameField::submitted, this, &DeviceRow::renameSubmitted);
    connect(field_, &RenameField::escaped, this, &DeviceRow::renameEscaped);
}

void DeviceRow::present(const TessaloyNet::PairedDevice& device, const State& look) {
    const QString name = plainName(QString::fromStdString(device.name));
    icon_->setSymbol("iphone", look.connected ? Tint::green : Tint::secondary);
    name_->setFullText(name);
    status_->setText(look.connected ? QStringLiteral("Connected now") : look.status);
    options_->setToolTip(Plovander::Look::plainTooltip(QStringLiteral("Rename or forget ") + name));
    options_->setAccessibleName(QStringLiteral("Options for ") + name);
    // The editor takes the place of everything after the symbol.
    info_->setVisible(!look.renaming);
    options_->setVisible(!look.renaming && !look.confirmingForget);
    confirm_->setVisible(!look.renaming && look.confirmingForget);
    editor_->setVisible(look.renaming);
}

void DeviceRow::beginRename(const QString& name) {
    // The field starts with the name as the row shows it, so what is saved is what was seen; left
    // as it was, it saves nothing, or the shown replacement characters would become the name.
    renamedFrom_ = plainName(name);
    field_->setText(renamedFrom_);
    editor_->setVisible(true);
    field_->setFocus();
    field_->selectAll();
}

std::optional<QString> DeviceRow::typedName() const {
    if (field_->text() == renamedFrom_) return std::nullopt;
    return field_->text();
}

} // namespace Plovander
