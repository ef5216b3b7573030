#pragma once

#include "base/SerialQueue.h"
#include "base/ServiceAdvertiser.h"

#include <chrono>
#include <cstddef>
#include <memory>
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

    // How long a system bus may take to answer a new connection; one that takes longer is reported
    // as not available and asked again after `retryAfterSilence`.
    static constexpr std::chrono::milliseconds defaultBusPatience{2'000};
    static constexpr std::chrono::seconds retryAfterSilence{10};

    // The queue must outlive the advertiser.
    static std::unique_ptr<TessaloyBase::ServiceAdvertiser> create(TessaloyBase::SerialQueue& queue,
                                                                   StateHandler onState);

    AvahiServiceAdvertiser(TessaloyBase::SerialQueue& queue, StateHandler onState,
                           std::chrono::milliseconds busPatience = defaultBusPatience);
    // Returns at once, and no state is reported after it. The poll thread, which may be inside a
    // call to a bus that never answers, is ended and freed on a thread of its own that nothing waits
    // for; what it published is withdrawn as it ends.
    ~AvahiServiceAdvertiser() override;

    void advertise(Service service) override;
    void updateTxtRecord(TxtRecord txt) override;
    void withdraw() override;

    // `name` cut to maximumNameBytes without splitting a UTF-8 character.
    static std::string fittedName(std::string name);
    // Why `txt` cannot be published, or nothing when it can.
    static std::optional<std::string> txtProblem(const TxtRecord& txt);

private:
    class Publisher;

    std::shared_ptr<Publisher> publisher_;
};

} // namespace Platform::Linux
