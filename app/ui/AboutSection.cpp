#include "app/ui/AboutSection.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/Look.h"
#include "core/AppVersion.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace Plovander {
namespace {

QHBoxLayout* labelledRow(const QString& label, QLabel* value) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(Look::label(label, Look::Text::body));
    row->addStretch();
    row->addWidget(value);
    return row;
}

} // namespace

AboutSection::AboutSection(StreamingSession& session, bool showsDiagnostics, QWidget* parent)
    : QWidget(parent), session_(session), idRow_(new QWidget), fingerprint_(Look::label({}, Look::Text::body)) {
    QLabel* version = Look::label(QString::fromStdString(TessaloyCore::AppVersion::display()), Look::Text::body);
    version->setObjectName("version");
    auto* diagnostics = new QCheckBox("Show diagnostics");
    diagnostics->setObjectName("showDiagnostics");
    diagnostics->setFont(Look::font(Look::Text::caption));
    diagnostics->setToolTip("Frame counts and an encoder test, for when support asks for them.");
    diagnostics->setChecked(showsDiagnostics);
    fingerprint_->setObjectName("fingerprint");
    fingerprint_->setFont(Look::monospaceFont(Look::Text::body));
    fingerprint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    idRow_->setObjectName("idRow");
    idRow_->setToolTip("Matches the ID your iPhone shows for this Mac.");
    idRow_->setLayout(labelledRow("This Mac's ID", fingerprint_));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addLayout(labelledRow("Version", version));
    column->addWidget(diagnostics);
    column->addWidget(idRow_);
    connect(diagnostics, &QCheckBox::toggled, this, &AboutSection::showsDiagnosticsToggled);
    refresh();
}

void AboutSection::refresh() {
    const auto& identity = session_.identity();
    idRow_->setVisible(identity.has_value());
    if (identity) fingerprint_->setText(QString::fromStdString(identity->fingerprint()));
}

} // namespace Plovander
