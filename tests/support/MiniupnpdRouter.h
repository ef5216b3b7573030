#pragma once

#include "tests/support/DaemonProcess.h"
#include "tests/support/NetworkNamespace.h"
#include "tests/support/TemporaryDirectory.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace Testing {

// A real home router for port-mapping tests: miniupnpd (nftables backend) in a network namespace of
// its own, with its WAN side on a veth that reports 11.22.33.44 and its LAN side on a veth to a
// second namespace, the host's side, where 192.168.77.1 is the default gateway. Nothing reaches the
// real network.
//
// The making thread moves to the host's side for good. Every thread started later, the process's
// shared pools' included, must be born there, so the process must have a single thread when the
// router is made: each test that uses it runs alone in a process of its own (see `NamespacedTestRun`).
class MiniupnpdRouter {
public:
    struct Options {
        bool natPmp = true;
    };

    // Namespaces, nftables or miniupnpd are not available here; the message says what failed.
    class Unavailable : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    static constexpr const char* externalAddress = "11.22.33.44";
    static constexpr const char* hostAddress = "192.168.77.2";

    // Throws Unavailable.
    explicit MiniupnpdRouter(Options options);
    ~MiniupnpdRouter();
    MiniupnpdRouter(const MiniupnpdRouter&) = delete;
    MiniupnpdRouter& operator=(const MiniupnpdRouter&) = delete;

    // The rules of the "prerouting_miniupnpd" chain, as nft lists them.
    std::string forwardingRules() const;
    // Waits until the router's log holds `count` lines containing `text`.
    bool waitForLog(std::string_view text, std::size_t count = 1,
                    std::chrono::milliseconds patience = std::chrono::seconds(10)) const;
    std::size_t logCount(std::string_view text) const;
    std::string logText() const;

private:
    TemporaryDirectory folder_;
    NetworkNamespace router_;
    NetworkNamespace host_;
    std::unique_ptr<DaemonProcess> daemon_;
};

} // namespace Testing
