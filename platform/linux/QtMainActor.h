#pragma once

#include "base/MainActor.h"

#include <QObject>
#include <QPointer>

namespace Platform::Linux {

// The main actor on the thread that runs the Qt event loop. Create it on that thread.
class QtMainActor final : public TessaloyBase::MainActor {
public:
    QtMainActor();
    ~QtMainActor() override;

    void post(std::function<void()> work) override;
    [[nodiscard]] TessaloyBase::ScheduledCall after(Duration delay, std::function<void()> work) override;
    Date now() const override;
    bool isCurrent() const override;

private:
    QObject* context_;
};

} // namespace Platform::Linux
