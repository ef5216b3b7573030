#pragma once

#include "app/ui/Card.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace Plovander {

class CheckRow;
class StreamingSession;

// The device that entered the correct code, waiting for this computer's user: Decline or Allow,
// and once, whether to stay available to it.
class ApprovalPrompt final : public Card {
    Q_OBJECT

public:
    explicit ApprovalPrompt(StreamingSession& session, QWidget* parent = nullptr);
    // The popover's Return key.
    void allow();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    StreamingSession& session_;
    QLabel* title_;
    CheckRow* choice_;
    QCheckBox* keepAvailable_;
    QPushButton* allow_;
};

} // namespace Plovander
