#include "app/ui/DiagnosticsSection.h"

#include "app/capture/CaptureProbe.h"
#include "app/runtime/TaskHandle.h"
#include "app/shell/StreamingSession.h"
#include "app/ui/Look.h"
#include "app/ui/SmallButton.h"
#include "app/ui/decisions/SettingsTexts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

namespace Plovander {

DiagnosticsSection::DiagnosticsSection(StreamingSession& session, CaptureProbe& capture, QWidget* parent)
    : QWidget(parent),
      session_(session),
      capture_(capture),
      status_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      counters_(Look::label({}, Look::Text::caption, QFont::Normal, true)),
      load_(new SmallButton("Load displays")),
      test_(new SmallButton("Test encoder")),
      stop_(new SmallButton("Stop")) {
    status_->setObjectName("captureStatus");
    counters_->setObjectName("counters");
    counters_->setFont(Look::monospaceFont(Look::Text::caption));
    load_->setObjectName("diagnosticsLoadDisplays");
    test_->setObjectName("testEncoder");
    stop_->setObjectName("stopEncoder");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(load_);
    buttons->addWidget(test_);
    buttons->addWidget(stop_);
    buttons->addStretch();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(status_);
    column->addWidget(counters_);
    column->addLayout(buttons);

    CaptureProbe* probe = &capture_;
    connect(load_, &QPushButton::clicked, this, [probe] {
        TaskHandle::detach([probe](CancellationToken) -> QCoro::Task<> { co_await probe->refreshDisplays(); });
    });
    // A local capture and encode whose output goes nowhere.
    connect(test_, &QPushButton::clicked, this, [probe] {
        TaskHandle::detach([probe](CancellationToken) -> QCoro::Task<> {
            co_await probe->start(nullptr, std::nullopt, TessaloyCore::VideoCodec::h264);
        });
    });
    connect(stop_, &QPushButton::clicked, this,
            [probe] { TaskHandle::detach([probe](CancellationToken) -> QCoro::Task<> { co_await probe->stop(); }); });
    for (auto signal :
         {&CaptureProbe::statusChanged, &CaptureProbe::frameCountChanged, &CaptureProbe::encodedFrameCountChanged,
          &CaptureProbe::encodedBytesChanged, &CaptureProbe::droppedFramesChanged, &CaptureProbe::captureSummaryChanged,
          &CaptureProbe::encodeSummaryChanged, &CaptureProbe::queueSummaryChanged,
          &CaptureProbe::roundTripSummaryChanged, &CaptureProbe::isRunningChanged, &CaptureProbe::isBusyChanged,
          &CaptureProbe::displaysChanged}) {
        connect(&capture_, signal, this, &DiagnosticsSection::refresh);
    }
    connect(&session_, &StreamingSession::isSharingChanged, this, &DiagnosticsSection::refresh);
    refresh();
}

void DiagnosticsSection::refresh() {
    status_->setText(QString::fromStdString(capture_.status()));
    QStringList lines{SettingsTexts::countersLine(capture_.frameCount(), capture_.encodedFrameCount(),
                                                  capture_.encodedBytes(), capture_.droppedFrames())};
    for (const auto* summary : {&capture_.captureSummary(), &capture_.encodeSummary(), &capture_.queueSummary(),
                                &capture_.roundTripSummary()}) {
        if (*summary) lines << QString::fromStdString(**summary);
    }
    counters_->setText(lines.join('\n'));
    counters_->setVisible(capture_.frameCount() > 0 || capture_.isRunning());
    const auto buttons = SettingsTexts::diagnosticsButtons(capture_.isBusy(), capture_.isRunning(),
                                                           !capture_.displays().empty(), session_.isSharing());
    load_->setEnabled(buttons.loadEnabled);
    test_->setEnabled(buttons.testEnabled);
    stop_->setVisible(buttons.stopShown);
}

} // namespace Plovander
