#include "app/ui/RenameField.h"

#include <QKeyEvent>

namespace Plovander {

void RenameField::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            Q_EMIT submitted();
            return;
        case Qt::Key_Escape:
            event->accept();
            Q_EMIT escaped();
            return;
        default:
            QLineEdit::keyPressEvent(event);
    }
}

} // namespace Plovander
