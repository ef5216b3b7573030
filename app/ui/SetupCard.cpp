#include "app/ui/SetupCard.h"

#include "app/ui/IconTile.h"
#include "app/ui/Look.h"
#include "app/ui/PairDeviceButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace Plovander {

SetupCard::SetupCard(StreamingSession& session, CaptureProbe& capture, QWidget* parent) : Card(parent) {
    setObjectName("setupCard");
    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    text->addWidget(Look::label("Connect your iPhone", Look::Text::body, QFont::DemiBold));
    QLabel* detail = Look::label(
        "Open Plovander on your iPhone, on the same Wi-Fi as this Mac, then pair it once. "
        "After that it connects without a code.",
        Look::Text::caption, QFont::Normal, true);
    text->addWidget(detail);
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(new IconTile("iphone.and.arrow.forward", Tint::accent), 0, Qt::AlignTop);
    row->addLayout(text, 1);
    column()->addLayout(row);
    column()->addWidget(new PairDeviceButton(session, capture, true));
}

} // namespace Plovander
