#pragma once

#include "net/portmap/PortMapper.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace Testing {

// Every state a port mapper reports, kept apart from the test so a late report finds it alive.
class MapperStates {
public:
    using State = TessaloyNet::PortMapper::State;

    explicit MapperStates(TessaloyNet::PortMapper& mapper) {
        mapper.setOnChange([record = record_](const State& state) {
            std::lock_guard guard(record->lock);
            record->states.push_back(state);
            record->changed.notify_all();
        });
    }

    // Waits until `count` states were reported; those reported by then.
    std::vector<State> first(std::size_t count, std::chrono::seconds patience = std::chrono::seconds(10)) {
        std::unique_lock guard(record_->lock);
        record_->changed.wait_for(guard, patience, [&] { return record_->states.size() >= count; });
        return record_->states;
    }

private:
    struct Record {
        std::mutex lock;
        std::condition_variable changed;
        std::vector<State> states;
    };
    std::shared_ptr<Record> record_ = std::make_shared<Record>();
};

} // namespace Testing
