#include "platform/linux/QtMainActor.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Platform::Linux {

QtMainActor::QtMainActor() : context_(new QObject) {}

// Work still queued for the context is dropped with it.
QtMainActor::~QtMainActor() { delete context_; }

void QtMainActor::post(std::function<void()> work) {
    QMetaObject::invokeMethod(context_, std::move(work), Qt::QueuedConnection);
}

TessaloyBase::ScheduledCall QtMainActor::after(Duration delay, std::function<void()> work) {
    auto state = std::make_shared<TessaloyBase::ScheduledCall::State>();
    const double wanted = std::ceil(std::clamp(delay.count() * 1000.0, 0.0, double(std::numeric_limits<int>::max())));
    const auto milliseconds = static_cast<int>(wanted);
    auto fire = [state, work = std::move(work)] {
        if (!state->cancelled) work();
    };
    // QTimer must be armed from the context's own thread.
    post([context = context_, milliseconds, fire = std::move(fire)]() mutable {
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, context, std::move(fire));
    });
    return TessaloyBase::ScheduledCall(std::move(state));
}

TessaloyBase::MainActor::Date QtMainActor::now() const { return std::chrono::system_clock::now(); }

bool QtMainActor::isCurrent() const { return QThread::currentThread() == context_->thread(); }

} // namespace Platform::Linux
