#include "platform/linux/LogindPowerAssertion.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>

namespace Platform {

std::unique_ptr<PowerAssertion> PowerAssertion::create() { return std::make_unique<Linux::LogindPowerAssertion>(); }

namespace Linux {

std::optional<std::string> LogindPowerAssertion::hold(const std::string& reason) {
    if (isHeld()) return std::nullopt;
    QDBusInterface manager("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                           QDBusConnection::systemBus());
    if (!manager.isValid()) return manager.lastError().message().toStdString();
    const QDBusReply<QDBusUnixFileDescriptor> reply =
        manager.call("Inhibit", "idle", "Plovander", QString::fromStdString(reason), "block");
    if (!reply.isValid()) return reply.error().message().toStdString();
    inhibitor_ = reply.value();
    if (!isHeld()) return std::string("logind gave no inhibitor");
    return std::nullopt;
}

} // namespace Linux
} // namespace Platform
