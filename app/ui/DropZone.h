#pragma once

#include <QWidget>

#include <filesystem>
#include <vector>

class QLabel;
class QPushButton;

namespace Plovander {

class SymbolView;

// The files window's drop target: what can be done now, and "Choose Files…" when sending is
// possible. It takes drops of files only while sending is possible.
class DropZone final : public QWidget {
    Q_OBJECT

public:
    explicit DropZone(QWidget* parent = nullptr);
    void present(bool isSharing, bool allowsRemoteControl);
    bool isTargeted() const { return targeted_; }

Q_SIGNALS:
    void filesDropped(const std::vector<std::filesystem::path>& files);
    void chooseRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool canSend_ = false;
    bool targeted_ = false;
    SymbolView* icon_;
    QLabel* title_;
    QLabel* detail_;
    QPushButton* choose_;
};

} // namespace Plovander
