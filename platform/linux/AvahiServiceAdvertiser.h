#pragma once

#include "base/SerialQueue.h"
#include "base/ServiceAdvertiser.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/watch.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace Platform::Linux {

// Publishes through avahi-daemon over the system bus with avahi-client on its own poll thread. Every
// call to the daemon is made on that thread: callers only record what they want and wake it, so they
// never wait for the daemon. The client waits for a missing daemon (and for one that went away) and
// publishes as soon as it appears.
class AvahiServiceAdvertiser final : public TessaloyBase::ServiceAdvertiser {
public:
    // Longest instance name: one DNS label.
    static constexpr std::size_t maximumNameBytes = 63;
    // Longest TXT entry ("key=value").
    static constexpr std::size_t maximumTxtEntryBytes = 255;

    // The queue must outlive the advertiser.
    static std::unique_ptr<TessaloyBase::ServiceAdvertiser> create(TessaloyBase::SerialQueue& queue,
                                                                   StateHandler onState);

    AvahiServiceAdvertiser(TessaloyBase::SerialQueue& queue, StateHandler onState);
    // Waits for the poll thread to finish a call to the daemon in progress.
    ~AvahiServiceAdvertiser() override;

    void advertise(Service service) override;
    void updateTxtRecord(TxtRecord txt) override;
    void withdraw() override;

    // `name` cut to maximumNameBytes without splitting a UTF-8 character.
    static std::string fittedName(std::string name);
    // Why `txt` cannot be published, or nothing when it can.
    static std::optional<std::string> txtProblem(const TxtRecord& txt);

private:
    struct Delivery;
    struct Wanted {
        std::optional<Service> service;
        std::uint64_t generation = 0;    // changes with every advertise() and withdraw()
        std::uint64_t txtGeneration = 0; // changes with every updateTxtRecord()
    };
    enum class Reported { nothing, registered, failed, notAvailable };

    void wake();

    // The rest runs on the poll thread only.
    void apply();
    void publish();
    bool ensureClient();
    void updateTxt();
    void resetGroup();
    void dropClient();
    void report(State state);

    static void onWake(AvahiWatch* watch, int fd, AvahiWatchEvent events, void* userdata);
    static void onClientState(AvahiClient* client, AvahiClientState state, void* userdata);
    static void onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata);
    static void onReconnect(AvahiTimeout* timeout, void* userdata);

    TessaloyBase::SerialQueue& queue_;
    std::shared_ptr<Delivery> delivery_;

    std::mutex lock_;
    Wanted wanted_; // guarded by lock_

    int wakeFd_ = -1;
    AvahiThreadedPoll* poll_ = nullptr;

    // Poll thread.
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
    bool groupFilled_ = false; // the service is added and committed
    std::optional<Service> current_;
    std::string currentName_; // the name asked for, or its alternative after a conflict
    std::uint64_t appliedGeneration_ = 0;
    std::uint64_t appliedTxtGeneration_ = 0;
    Reported reported_ = Reported::nothing;
};

} // namespace Platform::Linux
