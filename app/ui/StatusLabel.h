#pragma once

#include <QWidget>

class QLabel;

namespace Plovander {

// The two lines of a card: a title and a wrapping secondary subtitle, both shown as written.
class StatusLabel final : public QWidget {
    Q_OBJECT

public:
    explicit StatusLabel(QWidget* parent = nullptr);
    void set(const QString& title, const QString& subtitle);

private:
    QLabel* title_;
    QLabel* subtitle_;
};

} // namespace Plovander
