#pragma once

#include "base/SerialQueue.h"
#include "base/ServiceAdvertiser.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace Testing {

// A service advertiser that publishes nothing: it records what it was asked, and reports the state
// the test chose (Registered by default) on the queue it was made with.
class FakeServiceAdvertiser final : public TessaloyBase::ServiceAdvertiser {
public:
    // Shared between the test and every advertiser made by factory().
    struct Record {
        std::mutex lock;
        std::optional<State> reply; // nothing: Registered under the name asked for
        std::vector<Service> advertised;
        int withdrawals = 0;
        int made = 0;
        int destroyed = 0;
    };

    static auto factory(std::shared_ptr<Record> record) {
        return [record](TessaloyBase::SerialQueue& queue, StateHandler onState) -> std::unique_ptr<ServiceAdvertiser> {
            std::lock_guard guard(record->lock);
            ++record->made;
            return std::make_unique<FakeServiceAdvertiser>(queue, std::move(onState), record);
        };
    }

    FakeServiceAdvertiser(TessaloyBase::SerialQueue& queue, StateHandler onState, std::shared_ptr<Record> record)
        : queue_(queue), onState_(std::move(onState)), record_(std::move(record)) {}
    ~FakeServiceAdvertiser() override {
        std::lock_guard guard(record_->lock);
        ++record_->destroyed;
    }

    void advertise(Service service) override {
        State state = Registered{service.name};
        {
            std::lock_guard guard(record_->lock);
            if (record_->reply) state = *record_->reply;
            record_->advertised.push_back(std::move(service));
        }
        queue_.async([onState = onState_, state] { onState(state); });
    }
    void updateTxtRecord(TxtRecord) override {}
    void withdraw() override {
        std::lock_guard guard(record_->lock);
        ++record_->withdrawals;
    }

private:
    TessaloyBase::SerialQueue& queue_;
    StateHandler onState_;
    std::shared_ptr<Record> record_;
};

} // namespace Testing
