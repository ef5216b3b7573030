#pragma once

#include <QLineEdit>

namespace Plovander {

// The rename field of a paired device. Return renames and goes no further: a line edit passes
// Return on to its parents, where it would answer the approval prompt. Escape closes it.
class RenameField final : public QLineEdit {
    Q_OBJECT

public:
    using QLineEdit::QLineEdit;

Q_SIGNALS:
    void submitted();
    void escaped();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace Plovander
