#include "tests/support/FakePowerAssertion.h"

namespace Testing {

class FakePowerAssertion::Held final : public Platform::PowerAssertion::Held {
public:
    explicit Held(std::shared_ptr<Record> record) : record_(std::move(record)) {}
    ~Held() override {
        std::lock_guard guard(record_->lock);
        ++record_->releases;
    }

private:
    std::shared_ptr<Record> record_;
};

Platform::PowerAssertion::Taken FakePowerAssertion::take(const std::string& reason, std::stop_token) {
    std::lock_guard guard(record_->lock);
    if (record_->refusal) return *record_->refusal;
    record_->taken.push_back(reason);
    return std::make_unique<Held>(record_);
}

void FakePowerAssertion::refuseWith(std::optional<int> code) {
    std::lock_guard guard(record_->lock);
    record_->refusal = code;
}

std::vector<std::string> FakePowerAssertion::taken() const {
    std::lock_guard guard(record_->lock);
    return record_->taken;
}

int FakePowerAssertion::releases() const {
    std::lock_guard guard(record_->lock);
    return record_->releases;
}

} // namespace Testing
