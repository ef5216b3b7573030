#pragma once

#include <QFrame>

#include <optional>
#include <string>

class QLabel;

namespace Plovander {

// An orange banner with a problem sentence and a button that dismisses it; shown only while there
// is a sentence.
class ProblemBanner final : public QFrame {
    Q_OBJECT

public:
    explicit ProblemBanner(QWidget* parent = nullptr);
    void present(const std::optional<std::string>& text);

Q_SIGNALS:
    void dismissed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* text_;
};

} // namespace Plovander
