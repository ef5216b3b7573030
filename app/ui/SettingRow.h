#pragma once

#include <QWidget>

class QLabel;

namespace Plovander {

class Switch;

// A settings switch: its title and wrapping subtitle fill the width, the switch sits at the end.
class SettingRow final : public QWidget {
    Q_OBJECT

public:
    SettingRow(const QString& title, const QString& subtitle, QWidget* parent = nullptr);
    // Shows `on` without reporting it as the user's change.
    void present(bool on);
    Switch& toggle() const { return *switch_; }

Q_SIGNALS:
    void toggled(bool on);

private:
    Switch* switch_;
};

} // namespace Plovander
