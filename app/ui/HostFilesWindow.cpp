#include "app/ui/HostFilesWindow.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/DropZone.h"
#include "app/ui/FinishedList.h"
#include "app/ui/FlowRow.h"
#include "app/ui/Look.h"
#include "app/ui/OwnWindow.h"
#include "app/ui/ProblemBanner.h"
#include "app/ui/ReadingOrder.h"
#include "app/ui/ScrollingColumn.h"
#include "app/ui/SmallButton.h"
#include "app/ui/TransferList.h"
#include "platform/Workspace.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace Plovander {
namespace {

constexpr int windowWidth = 460;
constexpr int margin = 20;
constexpr int spacing = 16;

} // namespace

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
      clear_(new SmallButton("Clear list")),
      body_(new QWidget),
      chooserFolder_(QDir::homePath()) {
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
    auto* footer = new FlowRow;
    footer->setContentsMargins(margin, 0, margin, margin);
    footer->addWidget(downloadsButton, false);
    footer->addStretch();
    footer->addWidget(clear_, false);

    auto* content = new QWidget;
    auto* sections = new QVBoxLayout(content);
    sections->setContentsMargins(margin, margin, margin, spacing);
    sections->setSpacing(spacing);
    for (QWidget* widget : std::initializer_list<QWidget*>{dropZone_, banner_, inProgress_, recent_, empty_}) {
        sections->addWidget(widget);
    }
    // The height follows the content, up to what the screen holds; beyond that the column scrolls.
    middle_ = new ScrollingColumn(content);
    auto* column = new QVBoxLayout(body_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(middle_, 1);
    column->addLayout(footer);
    auto* window = new QVBoxLayout(this);
    window->setContentsMargins(0, 0, 0, 0);
    window->addWidget(body_);
    window->setSizeConstraint(QLayout::SetFixedSize);
    OwnWindow::closeOnKeys(*this);

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
    OwnWindow::present(*this, !placed_, [this] { fit(); });
    placed_ = true;
}

void HostFilesWindow::fit() {
    const QSize room = OwnWindow::room(*this);
    const int width = std::min(windowWidth, room.width());
    middle_->setFixedWidth(width);
    body_->setFixedWidth(width);
    body_->setMaximumHeight(room.height());
    adjustSize();
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
    // In the home folder at first, then where files were last chosen.
    QFileDialog dialog(this, "Choose files to send to your device", chooserFolder_);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setLabelText(QFileDialog::Accept, "Send");
    if (dialog.exec() != QDialog::Accepted) return;
    chooserFolder_ = dialog.directory().absolutePath();
    for (const QString& file : dialog.selectedFiles()) transfers_.send(file.toStdString());
}

void HostFilesWindow::openDownloadsFolder() {
    const std::filesystem::path folder = downloads_ / "Plovander";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    workspace_.open(QUrl::fromLocalFile(QString::fromStdString(folder.string())).toString().toStdString());
}

bool HostFilesWindow::focusNextPrevChild(bool next) { return ReadingOrder::moveFocus(*this, next); }

} // namespace Plovander
