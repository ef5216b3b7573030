#pragma once

#include <QObject>

#include <filesystem>
#include <functional>

class QLocalServer;

namespace Plovander {

// How a second launch reaches the running copy: the running copy listens on a private local
// socket, and a second launch connects to it to ask it to show its popover or window.
class PresentRequests final : public QObject {
    Q_OBJECT

public:
    // The socket beside the single-instance lock, in the user's private runtime folder.
    static std::filesystem::path defaultSocket();
    // Asks the copy listening on `socket` to show itself; false when none answered in time.
    static bool ask(const std::filesystem::path& socket);

    // Listens on `socket`, replacing one left behind by a copy that ended; `present` runs for
    // each request, on the main thread.
    PresentRequests(const std::filesystem::path& socket, std::function<void()> present, QObject* parent = nullptr);
    bool isListening() const;

private:
    QLocalServer* server_;
    std::function<void()> present_;
};

} // namespace Plovander
