#pragma once

#include "base/SerialQueue.h"
#include "connectwire/ControlMessage.h"
#include "connectwire/DataHello.h"
#include "core/Bytes.h"
#include "net/relay/RelayEndpoint.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Testing {

// A relay service on a loopback port, speaking the relay's side of the protocol for real: TLS
// control connections (registrations, candidates, ping and pong, incoming calls) and plain data
// connections that open with a sealed hello, which it opens with its private hello key, checks for
// freshness and answers with a reply byte: phone calls are forwarded to the registered Mac and the
// two data connections spliced, lookups answered with the Mac's candidates.
//
// Runs on a queue of its own; every method is safe from any thread. Destruction ends every
// connection.
class TestRelay {
public:
    // What the relay has heard, for tests to wait on.
    struct Heard {
        std::vector<TessaloyConnectWire::ControlMessage> controlMessages;
        std::vector<TessaloyConnectWire::DataHello> hellos;
        std::size_t controlConnections = 0;
        std::size_t splices = 0;
        // Calls of a flood sent so far, and the data connections the Mac opened for them.
        std::size_t floodCalls = 0;
        std::size_t floodAnswers = 0;
    };

    TestRelay();
    ~TestRelay();
    TestRelay(const TestRelay&) = delete;
    TestRelay& operator=(const TestRelay&) = delete;

    // Host 127.0.0.1, the bound port and the relay's two public keys.
    TessaloyNet::RelayEndpoint endpoint() const;
    // Closes the listener and every connection; start() listens again on the same port.
    void stop();
    void start();
    // Writes raw bytes on every open control connection.
    void sendOnControl(TessaloyCore::Bytes bytes);
    // Control connections are counted once their client hello arrives, but shake hands only
    // when the hold ends.
    void holdHandshakes(bool held);
    // Data connections are read but never answered while held.
    void holdReplies(bool held);
    // A relay gone wrong: calls every registered Mac `callsPerSecond` times a second, as if a device
    // called, and holds the data connections the Mac opens for those calls open without a reply.
    // Until stopFlood().
    void flood(double callsPerSecond);
    void stopFlood();

    // Waits, at most `patience`, until `done` holds for what was heard; returns whether it did.
    bool waitUntil(const std::function<bool(const Heard&)>& done,
                   std::chrono::milliseconds patience = std::chrono::seconds(10));
    Heard heard() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace Testing
