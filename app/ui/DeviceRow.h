#pragma once

#include "net/channel/PairedDevice.h"

#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;
class QToolButton;

namespace Plovander {

class ElidedLabel;
class RenameField;
class SymbolView;

// One paired device: its symbol, name and last connection, and its options menu; or the forget
// confirmation; or, while renaming, the name field with "Save".
class DeviceRow final : public QWidget {
    Q_OBJECT

public:
    struct State {
        bool connected = false;
        bool renaming = false;
        bool confirmingForget = false;
        QString status;
    };

    explicit DeviceRow(QWidget* parent = nullptr);
    void present(const TessaloyNet::PairedDevice& device, const State& look);
    // Starts editing with this text in the field.
    void beginRename(const QString& name);
    // The field's text once it differs from what it started with.
    std::optional<QString> typedName() const;

Q_SIGNALS:
    void renameRequested();
    void renameSubmitted();
    void renameEscaped();
    void forgetRequested();
    void forgetCancelled();
    void forgetConfirmed();

private:
    SymbolView* icon_;
    QWidget* info_;
    ElidedLabel* name_;
    QLabel* status_;
    QToolButton* options_;
    QWidget* confirm_;
    QWidget* editor_;
    RenameField* field_;
    QString renamedFrom_;
};

} // namespace Plovander
