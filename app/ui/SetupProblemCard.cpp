#include "app/ui/SetupProblemCard.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/IconTile.h"
#include "app/ui/SmallButton.h"
#include "app/ui/StatusLabel.h"
#include "app/ui/decisions/PopoverTexts.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace Plovander {

SetupProblemCard::SetupProblemCard(StreamingSession& session, QWidget* parent)
    : Card(parent), session_(session), label_(new StatusLabel) {
    setObjectName("setupProblemCard");
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(new IconTile("exclamationmark.triangle", Tint::orange));
    row->addWidget(label_, 1);
    column()->addLayout(row);
    // No desktop here has a screen-recording permission to open, so only the retry is offered.
    auto* retry = new SmallButton("Try again");
    retry->setObjectName("tryAgain");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(retry);
    buttons->addStretch();
    column()->addLayout(buttons);
    connect(retry, &QPushButton::clicked, this, [this] { session_.retryAfterSetupProblem(); });
    connect(&session_, &StreamingSession::setupProblemChanged, this, &SetupProblemCard::refresh);
    refresh();
}

void SetupProblemCard::refresh() {
    const auto& problem = session_.setupProblem();
    label_->set(
        QStringLiteral("Can't start yet"),
        PopoverTexts::setupProblemSubtitle(problem ? std::optional(QString::fromStdString(*problem)) : std::nullopt));
}

} // namespace Plovander
