#pragma once

#include "platform/UserDefaults.h"

#include <map>
#include <mutex>

namespace Testing {

// Settings kept in memory; `stored` shows exactly what was persisted (overrides never are).
class MemoryUserDefaults final : public Platform::UserDefaults {
public:
    explicit MemoryUserDefaults(Overrides overrides = {}) : UserDefaults(std::move(overrides)) {}

    std::map<std::string, std::string, std::less<>> stored() const {
        std::lock_guard guard(lock_);
        return values_;
    }

protected:
    std::optional<std::string> load(std::string_view key) const override {
        std::lock_guard guard(lock_);
        const auto found = values_.find(key);
        if (found == values_.end()) return std::nullopt;
        return found->second;
    }

    void store(std::string_view key, std::optional<std::string> value) override {
        std::lock_guard guard(lock_);
        if (value) {
            values_.insert_or_assign(std::string(key), std::move(*value));
        } else if (const auto found = values_.find(key); found != values_.end()) {
            values_.erase(found);
        }
    }

private:
    mutable std::mutex lock_;
    std::map<std::string, std::string, std::less<>> values_;
};

} // namespace Testing
