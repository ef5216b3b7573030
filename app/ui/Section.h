#pragma once

#include <QWidget>

class QVBoxLayout;

namespace Plovander {

// A titled settings section: the title as a small header, then a rounded panel holding the rows in
// a column (spacing 10, inset 12).
class Section final : public QWidget {
    Q_OBJECT

public:
    explicit Section(const QString& title, QWidget* parent = nullptr);
    QVBoxLayout* column() const { return column_; }

private:
    QVBoxLayout* column_;
};

} // namespace Plovander
