#pragma once

#include "platform/NetworkChanges.h"
#include "platform/linux/FileDescriptor.h"

#include <chrono>
#include <thread>

namespace Platform::Linux {

// Listens on an rtnetlink socket for the link, address and route messages of the network namespace
// it was made in. A burst of messages ends after `quiet` without one (or after `longest`, so a busy
// network still reports) and is told as one change.
class RtnetlinkNetworkChanges final : public NetworkChanges {
public:
    static constexpr std::chrono::milliseconds quiet{200};
    static constexpr std::chrono::milliseconds longest{2000};

    // Throws std::system_error when the socket cannot be opened.
    explicit RtnetlinkNetworkChanges(Handler onChange);
    ~RtnetlinkNetworkChanges() override;

private:
    void watch();
    // Reads every message waiting; returns whether any came (or the kernel dropped some).
    bool drain();

    Handler onChange_;
    FileDescriptor socket_;
    FileDescriptor stop_;
    std::thread watcher_;
};

} // namespace Platform::Linux
