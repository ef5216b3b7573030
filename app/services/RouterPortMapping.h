#pragma once

#include "app/runtime/CancellationToken.h"
#include "app/services/RouterPort.h"
#include "base/MainActor.h"
#include "net/portmap/PortMapper.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace Plovander {

// The router port through a port mapper: one mapper for the listener's port, started while wanted
// and stopped (not dropped) while not, so that starting again waits for the releases of the stop.
// The mapper reports on its own queue; its states are shown here on the main actor, and only those
// of the current run. Main actor only.
class RouterPortMapping final : public RouterPort {
public:
    using MakeMapper = std::function<std::shared_ptr<TessaloyNet::PortMapper>(std::uint16_t port)>;

    RouterPortMapping(TessaloyBase::MainActor& actor, MakeMapper makeMapper)
        : makeMapper_(std::move(makeMapper)), mailbox_(std::make_shared<Mailbox>(actor)) {}
    // Releases what the router holds: a dropped mapper would leave the forwarding until it lapses.
    ~RouterPortMapping() override;

    State state() const override { return state_; }
    void update(bool wanted, std::uint16_t port) override;
    void refresh() override;

private:
    void stopRun();
    void show(const TessaloyNet::PortMapperState& reported);
    void change(State state);

    // Where the mappers' reports go: a mapper may report after this object (and the main actor) are
    // gone, until its queue has seen the handler cleared.
    class Mailbox {
    public:
        explicit Mailbox(TessaloyBase::MainActor& actor) : actor_(&actor) {}
        void post(std::function<void()> work);
        void close();

    private:
        std::mutex lock_;
        TessaloyBase::MainActor* actor_;
    };

    const MakeMapper makeMapper_;
    const std::shared_ptr<Mailbox> mailbox_;
    std::shared_ptr<TessaloyNet::PortMapper> mapper_;
    bool running_ = false;
    // Counts starts and stops: a report made before the latest of them is stale.
    std::uint64_t run_ = 0;
    State state_;
    // Cancelled as this goes: reports that reach the main actor after that do nothing.
    CancellationToken lifetime_;
};

} // namespace Plovander
