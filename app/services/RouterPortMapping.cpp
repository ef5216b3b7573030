#include "app/services/RouterPortMapping.h"

#include "app/trace/TraceLog.h"

#include <variant>

namespace Plovander {

namespace {

RouterPort::State stateOf(const TessaloyNet::PortMapperState& reported) {
    using Kind = RouterPort::State::Kind;
    RouterPort::State state;
    if (std::holds_alternative<TessaloyNet::PortMapperState::Mapping>(reported.value)) {
        state.kind = Kind::mapping;
    } else if (const auto* mapped = std::get_if<TessaloyNet::PortMapperState::Mapped>(&reported.value)) {
        state.kind = Kind::mapped;
        state.method = mapped->mapping.method;
        state.candidate = mapped->mapping.candidate();
    } else if (const auto* unavailable = std::get_if<TessaloyNet::PortMapperState::Unavailable>(&reported.value)) {
        state.kind = Kind::unavailable;
        state.reason = unavailable->reason;
    }
    return state;
}

} // namespace

void RouterPortMapping::Mailbox::post(std::function<void()> work) {
    std::lock_guard guard(lock_);
    if (actor_) actor_->post(std::move(work));
}

void RouterPortMapping::Mailbox::close() {
    std::lock_guard guard(lock_);
    actor_ = nullptr;
}

RouterPortMapping::~RouterPortMapping() {
    lifetime_.cancel();
    if (running_) mapper_->stop();
    mailbox_->close();
}

void RouterPortMapping::update(bool wanted, std::uint16_t port) {
    const bool samePort = mapper_ && mapper_->internalPort() == port;
    if (running_ && (!wanted || !samePort)) stopRun();
    if (!wanted || running_) return;
    // A stopped mapper for another port finishes its releases on its own; its reports are stale.
    if (!samePort) mapper_ = makeMapper_(port);
    const std::uint64_t run = ++run_;
    mapper_->setOnChange(
        [this, mailbox = mailbox_, lifetime = lifetime_, run](const TessaloyNet::PortMapperState& reported) {
            mailbox->post(lifetime.guard([this, run, reported] {
                if (run == run_) show(reported);
            }));
        });
    mapper_->start();
    running_ = true;
}

void RouterPortMapping::refresh() {
    if (running_) mapper_->refresh();
}

void RouterPortMapping::stopRun() {
    mapper_->stop();
    running_ = false;
    ++run_;
    change({});
}

void RouterPortMapping::show(const TessaloyNet::PortMapperState& reported) {
    State state = stateOf(reported);
    if (state.kind == State::Kind::unavailable) {
        TraceLog::message([&] { return "router port: " + state.reason; });
    }
    change(std::move(state));
}

void RouterPortMapping::change(State state) {
    if (state == state_) return;
    state_ = std::move(state);
    if (onChange) onChange();
}

} // namespace Plovander
