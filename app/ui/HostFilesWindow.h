#pragma once

#include <QWidget>

#include <filesystem>

class QLabel;
class QPushButton;

namespace Platform {
class Workspace;
}

namespace Plovander {

class DropZone;
class FinishedList;
class HostTransfers;
class ProblemBanner;
class ScrollingColumn;
class StreamingSession;
class TransferList;

// "Plovander Files": send files to the connected device by dropping or choosing them, follow and
// cancel running transfers, and find finished ones again. Made once and kept; closing hides it.
class HostFilesWindow final : public QWidget {
    Q_OBJECT

public:
    // `downloads` is the user's downloads folder; received files are in its "Plovander" folder.
    HostFilesWindow(StreamingSession& session, HostTransfers& transfers, Platform::Workspace& workspace,
                    std::filesystem::path downloads, QWidget* parent = nullptr);
    // Shows the window where the user left it (centred the first time) and brings it to the front.
    void open();

protected:
    bool focusNextPrevChild(bool next) override;

private:
    // As wide and as tall as the content, up to what the screen holds.
    void fit();
    void refresh();
    void chooseFiles();
    void openDownloadsFolder();

    StreamingSession& session_;
    HostTransfers& transfers_;
    Platform::Workspace& workspace_;
    const std::filesystem::path downloads_;
    DropZone* dropZone_;
    ProblemBanner* banner_;
    QWidget* inProgress_;
    FinishedList* recent_;
    QLabel* empty_;
    QPushButton* clear_;
    QWidget* body_;
    ScrollingColumn* middle_;
    QString chooserFolder_;
    bool placed_ = false;
};

} // namespace Plovander
