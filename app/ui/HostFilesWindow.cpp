#include "app/ui/HostFilesWindow.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/DropZone.h"
#include "app/ui/FinishedList.h"
#include "app/ui/Look.h"
#include "app/ui/ProblemBanner.h"
#include "app/ui/SmallButton.h"
#include "app/ui/TransferList.h"
#include "platform/Workspace.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

namespace Plovander {

HostFilesWindow::HostFilesWindow(StreamingSession& session, HostTransfers& transfers, Platform::Workspace& workspace,
                                 std::filesystem::path downloads, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint),
      session_(session),
      transfers_(transfers),
      workspace_(workspace),
      downloads_(std::move(downloads)),
      dropZone_(new DropZone),
      banner_(new ProblemBanner),
      inProgress_(new QWidget),
      recent_(new FinishedList(transfers, workspace)),
      empty_(Look::label("Nothing sent or received yet.", Look::Text::callout, QFont::Normal, true)),
      clear_(new SmallButton("Clear list")) {
    setObjectName("filesWindow");
    setWindowTitle("Plovander Files");
    banner_->setObjectName("filesBanner");
    empty_->setObjectName("nothingYet");
    empty_->setAlignment(Qt::AlignCenter);
    clear_->setObjectName("clearList");

    auto* progressColumn = new QVBoxLayout(inProgress_);
    progressColumn->setContentsMargins(0, 0, 0, 0);
    progressColumn->setSpacing(8);
    progressColumn->addWidget(Look::label("In progress", Look::Text::caption, QFont::DemiBold, true));
    progressColumn->addWidget(new TransferList(transfers, TransferList::Style::window));

    auto* downloadsButton = new SmallButton(QStringLiteral("Open Downloads \u203A Plovander"));
    Look::setLeadingSymbol(*downloadsButton, "folder", Tint::primary);
    downloadsButton->setObjectName("openDownloads");
    auto* footer = new QHBoxLayout;
    footer->addWidget(downloadsButton);
    footer->addStretch();
    footer->addWidget(clear_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    for (QWidget* widget : std::initializer_list<QWidget*>{dropZone_, banner_, inProgress_, recent_, empty_}) {
        column->addWidget(widget);
    }
    column->addLayout(footer);
    // 460 wide with the margins; the height follows the content.
    dropZone_->setFixedWidth(420);
    column->setSizeConstraint(QLayout::SetFixedSize);

    connect(dropZone_, &DropZone::filesDropped, this, [this](const std::vector<std::filesystem::path>& files) {
        for (const auto& file : files) transfers_.send(file);
    });
    connect(dropZone_, &DropZone::chooseRequested, this, &HostFilesWindow::chooseFiles);
    connect(banner_, &ProblemBanner::dismissed, this, [this] { transfers_.setLastProblem(std::nullopt); });
    connect(clear_, &QPushButton::clicked, this, [this] { transfers_.setFinished({}); });
    connect(downloadsButton, &QPushButton::clicked, this, &HostFilesWindow::openDownloadsFolder);
    for (auto signal : {&StreamingSession::isSharingChanged, &StreamingSession::allowsRemoteControlChanged}) {
        connect(&session_, signal, this, &HostFilesWindow::refresh);
    }
    for (auto signal :
         {&HostTransfers::activeChanged, &HostTransfers::finishedChanged, &HostTransfers::lastProblemChanged}) {
        connect(&transfers_, signal, this, &HostFilesWindow::refresh);
    }
    refresh();
}

void HostFilesWindow::open() {
    if (!placed_) {
        adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
        placed_ = true;
    }
    show();
    raise();
    activateWindow();
}

void HostFilesWindow::refresh() {
    dropZone_->present(session_.isSharing(), session_.allowsRemoteControl());
    banner_->present(transfers_.lastProblem());
    const bool running = !transfers_.active().empty();
    const bool finished = !transfers_.finished().empty();
    inProgress_->setVisible(running);
    recent_->setVisible(finished);
    empty_->setVisible(!running && !finished);
    clear_->setVisible(finished);
}

void HostFilesWindow::chooseFiles() {
    QFileDialog dialog(this, "Choose files to send to your device");
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setLabelText(QFileDialog::Accept, "Send");
    if (dialog.exec() != QDialog::Accepted) return;
    for (const QString& file : dialog.selectedFiles()) transfers_.send(file.toStdString());
}

void HostFilesWindow::openDownloadsFolder() {
    const std::filesystem::path folder = downloads_ / "Plovander";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    workspace_.open(QUrl::fromLocalFile(QString::fromStdString(folder.string())).toString().toStdString());
}

} // namespace Plovander
