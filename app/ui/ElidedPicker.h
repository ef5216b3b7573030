#pragma once

#include <QComboBox>

namespace Plovander {

// A drop-down list whose closed entry is cut with "…" at its end where the field is too narrow for
// it, rather than clipped mid-letter.
class ElidedPicker final : public QComboBox {
    Q_OBJECT

public:
    explicit ElidedPicker(QWidget* parent = nullptr) : QComboBox(parent) {}

protected:
    void initStyleOption(QStyleOptionComboBox* option) const override;
};

} // namespace Plovander
