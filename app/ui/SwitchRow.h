#pragma once

#include <QWidget>

class QLabel;

namespace Plovander {

class Switch;
class SymbolView;

// A popover switch: a symbol tinted while the row counts as on, a title and subtitle, the switch.
class SwitchRow final : public QWidget {
    Q_OBJECT

public:
    SwitchRow(QString symbol, const QString& title, QWidget* parent = nullptr);
    void present(bool checked, bool symbolOn, const QString& subtitle);

Q_SIGNALS:
    void toggled(bool on);

private:
    QString symbol_;
    SymbolView* icon_;
    QLabel* subtitle_;
    Switch* switch_;
};

} // namespace Plovander
