#include "app/ui/AboutSection.h"

#include "app/shell/StreamingSession.h"
#include "app/ui/Look.h"
#include "app/ui/SeparatedText.h"
#include "core/AppVersion.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace Plovander {
namespace {

// The label keeps its line; the value takes the rest of the row, at its trailing edge.
QHBoxLayout* labelledRow(const QString& label, QLabel* value) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    QLabel* title = Look::label(label, Look::Text::body);
    title->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    row->addWidget(title, 0, Qt::AlignTop);
    value->setAlignment(Qt::AlignRight | Qt::AlignTop);
    row->addWidget(value, 1);
    return row;
}

} // namespace

AboutSection::AboutSection(StreamingSession& session, bool showsDiagnostics, QWidget* parent)
    : QWidget(parent), session_(session), idRow_(new QWidget), fingerprint_(new SeparatedText('-')) {
    QLabel* version = Look::label(QString::fromStdString(TessaloyCore::AppVersion::display()), Look::Text::body);
    version->setObjectName("version");
    auto* diagnostics = new QCheckBox("Show diagnostics");
    diagnostics->setObjectName("showDiagnostics");
    diagnostics->setFont(Look::font(Look::Text::caption));
    diagnostics->setToolTip("Frame counts and an encoder test, for when support asks for them.");
    diagnostics->setChecked(showsDiagnostics);
    fingerprint_->setObjectName("fingerprint");
    fingerprint_->setFont(Look::monospaceFont(Look::Text::body));
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
    if (identity) fingerprint_->setFullText(QString::fromStdString(identity->fingerprint()));
}

} // namespace Plovander
