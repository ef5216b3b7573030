#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>

namespace Platform {

// Why a login item could not be read or changed; the message is the platform's own text.
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

    // The three throw LoginItemsError, for instance when the system's service manager is missing.
    virtual Status status(Item item) = 0;
    virtual void registerItem(Item item) = 0;
    virtual void unregisterItem(Item item) = 0;
    // The program a registration starts: the full path of the running one; empty when unknown.
    virtual std::filesystem::path program() const = 0;
};

} // namespace Platform
