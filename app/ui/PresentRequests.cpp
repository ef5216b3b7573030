#include "app/ui/PresentRequests.h"

#include "app/shell/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace Plovander {
namespace {

constexpr int patienceMs = 2000;
const QByteArray request = "present\n";

QString nameOf(const std::filesystem::path& socket) { return QString::fromStdString(socket.string()); }

} // namespace

std::filesystem::path PresentRequests::defaultSocket() {
    return SingleInstance::defaultLockFile().parent_path() / "plovander.socket";
}

bool PresentRequests::ask(const std::filesystem::path& socket) {
    QLocalSocket connection;
    connection.connectToServer(nameOf(socket));
    if (!connection.waitForConnected(patienceMs)) return false;
    connection.write(request);
    return connection.waitForBytesWritten(patienceMs);
}

PresentRequests::PresentRequests(const std::filesystem::path& socket, std::function<void()> present, QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)), present_(std::move(present)) {
    // Only this process holds the single-instance lock, so a socket file there is a leftover.
    QLocalServer::removeServer(nameOf(socket));
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->listen(nameOf(socket));
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* connection = server_->nextPendingConnection()) {
            connect(connection, &QLocalSocket::readyRead, this, [this, connection] {
                if (connection->readAll().contains(request.trimmed())) present_();
                connection->disconnectFromServer();
            });
            connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        }
    });
}

bool PresentRequests::isListening() const { return server_->isListening(); }

} // namespace Plovander
