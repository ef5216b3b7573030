#pragma once

#include "platform/PowerAssertion.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// A power assertion that holds nothing: it records the reason of every assertion taken and how
// often one was let go of (also after the fake is gone), and refuses with a code while the test sets
// one. Safe from any thread.
class FakePowerAssertion final : public Platform::PowerAssertion {
public:
    Taken take(const std::string& reason, std::stop_token stop) override;

    void refuseWith(std::optional<int> code);
    std::vector<std::string> taken() const;
    int releases() const;

private:
    struct Record {
        std::mutex lock;
        std::optional<int> refusal;
        std::vector<std::string> taken;
        int releases = 0;
    };
    class Held;

    std::shared_ptr<Record> record_ = std::make_shared<Record>();
};

} // namespace Testing
