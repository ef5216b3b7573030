#include "app/ui/DisplaySection.h"

#include "app/capture/CaptureProbe.h"
#include "app/runtime/TaskHandle.h"
#include "app/shell/StreamingSession.h"
#include "app/ui/ElidedPicker.h"
#include "app/ui/Look.h"
#include "app/ui/SmallButton.h"
#include "app/ui/decisions/SettingsTexts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace Plovander {

DisplaySection::DisplaySection(StreamingSession& session, CaptureProbe& capture, QWidget* parent)
    : QWidget(parent),
      session_(session),
      capture_(capture),
      loadRow_(new QWidget),
      load_(new SmallButton("Load displays")),
      pickerRow_(new QWidget),
      picker_(new ElidedPicker) {
    load_->setObjectName("loadDisplays");
    picker_->setObjectName("displayPicker");
    picker_->setAccessibleName("Display");

    auto* loadLine = new QHBoxLayout(loadRow_);
    loadLine->setContentsMargins(0, 0, 0, 0);
    loadLine->addWidget(Look::label("No displays loaded yet.", Look::Text::caption, QFont::Normal, true));
    loadLine->addStretch();
    loadLine->addWidget(load_);
    auto* pickerLine = new QHBoxLayout(pickerRow_);
    pickerLine->setContentsMargins(0, 0, 0, 0);
    pickerLine->addWidget(Look::label("Display", Look::Text::body));
    pickerLine->addWidget(picker_, 1);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(loadRow_);
    column->addWidget(pickerRow_);

    connect(load_, &QPushButton::clicked, this, [probe = &capture_] {
        TaskHandle::detach([probe](CancellationToken) -> QCoro::Task<> { co_await probe->refreshDisplays(); });
    });
    connect(picker_, &QComboBox::activated, this, &DisplaySection::picked);
    for (auto signal : {&CaptureProbe::displaysChanged, &CaptureProbe::selectedDisplayIDChanged,
                        &CaptureProbe::isBusyChanged, &CaptureProbe::isRunningChanged}) {
        connect(&capture_, signal, this, &DisplaySection::refresh);
    }
    connect(&session_, &StreamingSession::isSharingChanged, this, &DisplaySection::refresh);
    refresh();
}

void DisplaySection::picked(int index) {
    const auto displayID = picker_->itemData(index).value<std::uint32_t>();
    if (!session_.isSharing()) return capture_.setSelectedDisplayID(displayID);
    // The picker shows the shared display until the switch has gone through.
    switching_ = true;
    refresh();
    TaskHandle::detach(
        [self = QPointer(this), session = QPointer(&session_), displayID](CancellationToken) -> QCoro::Task<> {
            if (session) co_await session->switchSharedDisplay(displayID, false);
            if (!self) co_return;
            self->switching_ = false;
            self->refresh();
        });
}

void DisplaySection::refresh() {
    const auto& displays = capture_.displays();
    loadRow_->setVisible(displays.empty());
    pickerRow_->setVisible(!displays.empty());
    load_->setEnabled(!capture_.isRunning() && !capture_.isBusy());

    const QSignalBlocker quiet(picker_);
    picker_->clear();
    for (const auto& display : displays) {
        picker_->addItem(SettingsTexts::displayEntry(QString::fromStdString(display.name), display.displayID,
                                                     display.width, display.height),
                         QVariant::fromValue(display.displayID));
    }
    if (!switching_) shown_ = capture_.selectedDisplayID();
    picker_->setCurrentIndex(picker_->findData(QVariant::fromValue(shown_)));
    picker_->setEnabled(
        SettingsTexts::displayPickerEnabled(capture_.isBusy(), capture_.isRunning(), session_.isSharing()));
}

} // namespace Plovander
