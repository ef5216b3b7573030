#include "platform/linux/AvahiServiceAdvertiser.h"

#include "base/SerialQueue.h"
#include "platform/linux/CallbackGate.h"
#include "platform/linux/SystemBus.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>
#include <avahi-common/watch.h>

#include <asio/post.hpp>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace Platform::Linux {
namespace {

std::string notAvailableText(int error) {
    return std::string("Service discovery is not available: ") + avahi_strerror(error);
}
std::string failedText(int error) { return std::string("Could not advertise the service: ") + avahi_strerror(error); }

// Owns an AvahiStringList.
struct StringList {
    AvahiStringList* list = nullptr;
    explicit StringList(const TessaloyBase::ServiceAdvertiser::TxtRecord& txt) {
        // avahi prepends, so add from the back to keep the order given.
        for (auto it = txt.rbegin(); it != txt.rend(); ++it) {
            list = avahi_string_list_add_pair(list, it->first.c_str(), it->second.c_str());
        }
    }
    ~StringList() { avahi_string_list_free(list); }
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;
};

std::string alternativeName(const std::string& name) {
    char* alternative = avahi_alternative_service_name(name.c_str());
    std::string result = alternative ? alternative : name + " #2";
    avahi_free(alternative);
    return result;
}

// Where the poll thread's reports go: to the handler, on the queue, until silenced. Shared with the
// reports on their way, so that after silence() neither the handler nor the queue is touched again.
class Reports : public std::enable_shared_from_this<Reports> {
public:
    using State = TessaloyBase::ServiceAdvertiser::State;

    Reports(TessaloyBase::SerialQueue::Executor executor, TessaloyBase::ServiceAdvertiser::StateHandler onState)
        : executor_(std::move(executor)), onState_(std::move(onState)) {}

    // Any thread.
    void post(State state) {
        std::lock_guard guard(lock_);
        if (!executor_) return;
        asio::post(*executor_, [self = shared_from_this(), state = std::move(state)] {
            self->gate_.run([&] {
                if (self->onState_) self->onState_(state);
            });
        });
    }
    // Waits for a report being handled, unless called from its handler.
    void silence() {
        gate_.close();
        std::lock_guard guard(lock_);
        executor_.reset();
    }

private:
    std::mutex lock_;
    std::optional<TessaloyBase::SerialQueue::Executor> executor_; // guarded by lock_
    const TessaloyBase::ServiceAdvertiser::StateHandler onState_;
    CallbackGate gate_;
};

} // namespace

// The poll thread and everything it touches. It lives as long as the advertiser, and after it for as
// long as the poll thread takes to end.
class AvahiServiceAdvertiser::Publisher {
public:
    Publisher(TessaloyBase::SerialQueue& queue, StateHandler onState, std::chrono::milliseconds busPatience);
    // Waits for the poll thread to finish a call to the daemon in progress.
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    void advertise(Service service);
    void updateTxtRecord(TxtRecord txt);
    void withdraw();
    // No state is reported after it returns.
    void silence() { reports_->silence(); }

private:
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
    static void onSilenceRetry(AvahiTimeout* timeout, void* userdata);

    const std::shared_ptr<Reports> reports_;

    std::mutex lock_;
    Wanted wanted_; // guarded by lock_

    int wakeFd_ = -1;
    AvahiThreadedPoll* poll_ = nullptr;

    const std::chrono::milliseconds busPatience_;

    // Poll thread.
    // Pending while the system bus was last found silent: asks it again.
    AvahiTimeout* silenceRetry_ = nullptr;
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
    bool groupFilled_ = false; // the service is added and committed
    std::optional<Service> current_;
    std::string currentName_; // the name asked for, or its alternative after a conflict
    std::uint64_t appliedGeneration_ = 0;
    std::uint64_t appliedTxtGeneration_ = 0;
    Reported reported_ = Reported::nothing;
};

AvahiServiceAdvertiser::AvahiServiceAdvertiser(TessaloyBase::SerialQueue& queue, StateHandler onState,
                                               std::chrono::milliseconds busPatience)
    : publisher_(std::make_shared<Publisher>(queue, std::move(onState), busPatience)) {}

AvahiServiceAdvertiser::~AvahiServiceAdvertiser() {
    publisher_->silence();
    std::thread([publisher = std::move(publisher_)]() mutable { publisher.reset(); }).detach();
}

void AvahiServiceAdvertiser::advertise(Service service) { publisher_->advertise(std::move(service)); }

void AvahiServiceAdvertiser::updateTxtRecord(TxtRecord txt) { publisher_->updateTxtRecord(std::move(txt)); }

void AvahiServiceAdvertiser::withdraw() { publisher_->withdraw(); }

AvahiServiceAdvertiser::Publisher::Publisher(TessaloyBase::SerialQueue& queue, StateHandler onState,
                                             std::chrono::milliseconds busPatience)
    : reports_(std::make_shared<Reports>(queue.executor(), std::move(onState))), busPatience_(busPatience) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    poll_ = avahi_threaded_poll_new();
    const AvahiPoll* api = poll_ ? avahi_threaded_poll_get(poll_) : nullptr;
    if (!api || !api->watch_new(api, wakeFd_, AVAHI_WATCH_IN, &Publisher::onWake, this) ||
        avahi_threaded_poll_start(poll_) < 0) {
        if (poll_) avahi_threaded_poll_free(poll_);
        ::close(wakeFd_);
        throw std::runtime_error("could not start the service discovery poll thread");
    }
}

AvahiServiceAdvertiser::Publisher::~Publisher() {
    avahi_threaded_poll_stop(poll_);
    // Closing the connection is enough: the daemon withdraws what a departed client published.
    if (client_) avahi_client_free(client_);
    avahi_threaded_poll_free(poll_);
    ::close(wakeFd_);
}

void AvahiServiceAdvertiser::Publisher::advertise(Service service) {
    {
        std::lock_guard guard(lock_);
        wanted_.service = std::move(service);
        ++wanted_.generation;
    }
    wake();
}

void AvahiServiceAdvertiser::Publisher::updateTxtRecord(TxtRecord txt) {
    {
        std::lock_guard guard(lock_);
        if (!wanted_.service) return;
        wanted_.service->txt = std::move(txt);
        ++wanted_.txtGeneration;
    }
    wake();
}

void AvahiServiceAdvertiser::Publisher::withdraw() {
    {
        std::lock_guard guard(lock_);
        wanted_.service.reset();
        ++wanted_.generation;
    }
    wake();
}

std::string AvahiServiceAdvertiser::fittedName(std::string name) {
    if (name.size() <= maximumNameBytes) return name;
    std::size_t end = maximumNameBytes;
    // Back off over continuation bytes (10xxxxxx) to the start of the character that does not fit.
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    name.resize(end);
    return name;
}

std::optional<std::string> AvahiServiceAdvertiser::txtProblem(const TxtRecord& txt) {
    for (const auto& [key, value] : txt) {
        bool printable = !key.empty();
        for (const char c : key) printable = printable && c >= 0x20 && c <= 0x7E && c != '=';
        if (!printable) return "Invalid TXT record key \"" + key + "\"";
        if (key.size() + 1 + value.size() > maximumTxtEntryBytes) {
            return "TXT record entry \"" + key + "\" is longer than " + std::to_string(maximumTxtEntryBytes) + " bytes";
        }
    }
    return std::nullopt;
}

void AvahiServiceAdvertiser::Publisher::wake() {
    const std::uint64_t one = 1;
    // Only fails when the counter is full, and then a wake is pending anyway.
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

void AvahiServiceAdvertiser::Publisher::onWake(AvahiWatch*, int fd, AvahiWatchEvent, void* userdata) {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(fd, &count, sizeof count);
    static_cast<Publisher*>(userdata)->apply();
}

void AvahiServiceAdvertiser::Publisher::apply() {
    Wanted wanted;
    {
        std::lock_guard guard(lock_);
        wanted = wanted_;
    }
    if (wanted.generation != appliedGeneration_) {
        appliedGeneration_ = wanted.generation;
        appliedTxtGeneration_ = wanted.txtGeneration;
        resetGroup();
        current_ = std::move(wanted.service);
        if (current_) currentName_ = fittedName(current_->name);
        publish();
        return;
    }
    if (current_ && wanted.service && wanted.txtGeneration != appliedTxtGeneration_) {
        appliedTxtGeneration_ = wanted.txtGeneration;
        current_->txt = std::move(wanted.service->txt);
        updateTxt();
    }
}

void AvahiServiceAdvertiser::Publisher::publish() {
    if (!current_) return;
    if (const auto problem = txtProblem(current_->txt)) {
        report(Failed{"Could not advertise the service: " + *problem});
        return;
    }
    // A client that comes up at once publishes from its state callback, inside ensureClient().
    if (!ensureClient() || groupFilled_ || avahi_client_get_state(client_) != AVAHI_CLIENT_S_RUNNING) return;
    if (!group_) {
        group_ = avahi_entry_group_new(client_, &Publisher::onGroupState, this);
        if (!group_) {
            report(Failed{failedText(avahi_client_errno(client_))});
            return;
        }
    }
    // Each conflict with a service of this host yields the next alternative name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const StringList txt(current_->txt);
        const int error = avahi_entry_group_add_service_strlst(
            group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), currentName_.c_str(),
            current_->type.c_str(), nullptr, nullptr, current_->port, txt.list);
        if (error == AVAHI_ERR_COLLISION) {
            currentName_ = alternativeName(currentName_);
            continue;
        }
        if (error < 0 || (avahi_entry_group_commit(group_) < 0)) {
            const int code = error < 0 ? error : avahi_client_errno(client_);
            avahi_entry_group_reset(group_);
            report(Failed{failedText(code)});
            return;
        }
        groupFilled_ = true;
        return;
    }
    report(Failed{failedText(AVAHI_ERR_COLLISION)});
}

bool AvahiServiceAdvertiser::Publisher::ensureClient() {
    if (client_) return true;
    if (silenceRetry_) return false;
    // avahi-client sets up its connection with libdbus, which holds a lock of the whole process
    // until the bus answers: every other user of libdbus here (the toolkit's own bus thread) would
    // wait as long. So it only ever meets a bus that has answered.
    if (systemBusIsSilent(busPatience_)) {
        report(NotAvailable{"Service discovery is not available: the system bus does not answer."});
        timeval retry{};
        avahi_elapse_time(&retry, static_cast<unsigned>(std::chrono::milliseconds(retryAfterSilence).count()), 0);
        const AvahiPoll* api = avahi_threaded_poll_get(poll_);
        silenceRetry_ = api->timeout_new(api, &retry, &Publisher::onSilenceRetry, this);
        return false;
    }
    int error = 0;
    // NO_FAIL: with the bus up but no daemon, the client waits for the daemon to appear.
    AvahiClient* client =
        avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL, &Publisher::onClientState, this, &error);
    if (!client) {
        // It may have called back with the client it then freed.
        client_ = nullptr;
        group_ = nullptr;
        groupFilled_ = false;
        report(NotAvailable{notAvailableText(error)});
        return false;
    }
    client_ = client;
    return true;
}

void AvahiServiceAdvertiser::Publisher::updateTxt() {
    if (const auto problem = txtProblem(current_->txt)) {
        report(Failed{"Could not advertise the service: " + *problem});
        return;
    }
    // Not published yet: publish() takes the new record when the daemon is ready.
    if (!group_ || !groupFilled_) return;
    const StringList txt(current_->txt);
    const int error =
        avahi_entry_group_update_service_txt_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                                    currentName_.c_str(), current_->type.c_str(), nullptr, txt.list);
    if (error < 0) report(Failed{failedText(error)});
}

void AvahiServiceAdvertiser::Publisher::resetGroup() {
    if (group_ && groupFilled_) avahi_entry_group_reset(group_);
    groupFilled_ = false;
}

void AvahiServiceAdvertiser::Publisher::dropClient() {
    // Freeing the client frees its groups.
    if (client_) avahi_client_free(client_);
    client_ = nullptr;
    group_ = nullptr;
    groupFilled_ = false;
}

void AvahiServiceAdvertiser::Publisher::report(State state) {
    const Reported kind = std::holds_alternative<Registered>(state) ? Reported::registered
                          : std::holds_alternative<Failed>(state)   ? Reported::failed
                                                                    : Reported::notAvailable;
    // Unavailability is said once, until something else happens.
    if (kind == Reported::notAvailable && reported_ == Reported::notAvailable) return;
    reported_ = kind;
    reports_->post(std::move(state));
}

void AvahiServiceAdvertiser::Publisher::onClientState(AvahiClient* client, AvahiClientState state, void* userdata) {
    auto& self = *static_cast<Publisher*>(userdata);
    // Also called from within avahi_client_new(), before client_ is set.
    self.client_ = client;
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            self.publish();
            break;
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_S_COLLISION:
            // The daemon is (re)establishing its host name; publish again once it runs.
            self.resetGroup();
            break;
        case AVAHI_CLIENT_CONNECTING:
            self.report(NotAvailable{notAvailableText(AVAHI_ERR_NO_DAEMON)});
            break;
        case AVAHI_CLIENT_FAILURE: {
            const int error = avahi_client_errno(client);
            if (error == AVAHI_ERR_DISCONNECTED) {
                self.report(NotAvailable{notAvailableText(error)});
                // The client cannot be freed from its own callback: start over from the poll loop.
                const AvahiPoll* api = avahi_threaded_poll_get(self.poll_);
                timeval now{};
                api->timeout_new(api, &now, &Publisher::onReconnect, &self);
            } else {
                self.report(Failed{failedText(error)});
            }
            break;
        }
    }
}

void AvahiServiceAdvertiser::Publisher::onReconnect(AvahiTimeout* timeout, void* userdata) {
    auto& self = *static_cast<Publisher*>(userdata);
    avahi_threaded_poll_get(self.poll_)->timeout_free(timeout);
    self.dropClient();
    self.publish();
}

void AvahiServiceAdvertiser::Publisher::onSilenceRetry(AvahiTimeout* timeout, void* userdata) {
    auto& self = *static_cast<Publisher*>(userdata);
    avahi_threaded_poll_get(self.poll_)->timeout_free(timeout);
    self.silenceRetry_ = nullptr;
    self.publish();
}

void AvahiServiceAdvertiser::Publisher::onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state,
                                                     void* userdata) {
    auto& self = *static_cast<Publisher*>(userdata);
    switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            self.report(Registered{self.currentName_});
            break;
        case AVAHI_ENTRY_GROUP_COLLISION:
            // Another host holds the name: take the next alternative.
            self.currentName_ = alternativeName(self.currentName_);
            avahi_entry_group_reset(group);
            self.groupFilled_ = false;
            self.group_ = group;
            self.publish();
            break;
        case AVAHI_ENTRY_GROUP_FAILURE:
            self.report(Failed{failedText(avahi_client_errno(avahi_entry_group_get_client(group)))});
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
    }
}

std::unique_ptr<TessaloyBase::ServiceAdvertiser> AvahiServiceAdvertiser::create(TessaloyBase::SerialQueue& queue,
                                                                                StateHandler onState) {
    return std::make_unique<AvahiServiceAdvertiser>(queue, std::move(onState));
}

} // namespace Platform::Linux
