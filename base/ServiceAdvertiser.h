#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace TessaloyBase {

class SerialQueue;

// Publishes one DNS-SD service on the local network. Calls return at once and never wait for the
// service discovery daemon; what happens is reported through `onState` on the queue given at creation.
// When no daemon answers, that is reported once and the service is published as soon as one appears.
class ServiceAdvertiser {
public:
    // Keys and values of the TXT record, in order.
    using TxtRecord = std::vector<std::pair<std::string, std::string>>;

    struct Service {
        std::string type; // "_tessaloy._tcp"
        // The instance name; one DNS label, so cut to 63 bytes on a character boundary.
        std::string name;
        std::uint16_t port = 0;
        TxtRecord txt;
    };

    // Published under `name`: the one asked for, or another one after a name conflict.
    struct Registered {
        std::string name;
    };
    // The service cannot be published as given; the text says why.
    struct Failed {
        std::string reason;
    };
    // No service discovery daemon answers; nothing is published until one does.
    struct NotAvailable {
        std::string reason;
    };
    using State = std::variant<Registered, Failed, NotAvailable>;
    using StateHandler = std::function<void(const State&)>;
    // Makes an advertiser that reports on `queue`.
    using Factory = std::function<std::unique_ptr<ServiceAdvertiser>(SerialQueue& queue, StateHandler onState)>;

    // Withdraws the service; no state is reported once it returns (unless it is called from the handler).
    virtual ~ServiceAdvertiser() = default;

    // Publishes `service`, replacing what was published before.
    virtual void advertise(Service service) = 0;
    // Replaces the TXT record of the service being published; ignored when there is none. A record that
    // cannot be published is reported as Failed and the previous one stays.
    virtual void updateTxtRecord(TxtRecord txt) = 0;
    // Withdraws the service at once.
    virtual void withdraw() = 0;
};

} // namespace TessaloyBase
