#pragma once

#include <memory>
#include <stdexcept>

namespace Platform {

// Why a login item could not be changed; the message is the platform's own text.
class LoginItemsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the system starts when the user logs in: the keep-alive agent that runs the application,
// and the start-at-login entry of the application itself that earlier versions made. Main thread.
class LoginItems {
public:
    enum class Item { agent, mainApp };
    enum class Status { enabled, notRegistered, requiresApproval, notFound };

    static std::unique_ptr<LoginItems> create();

    virtual ~LoginItems() = default;

    virtual Status status(Item item) = 0;
    // Both throw LoginItemsError.
    virtual void registerItem(Item item) = 0;
    virtual void unregisterItem(Item item) = 0;
};

} // namespace Platform
