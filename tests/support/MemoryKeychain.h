#pragma once

#include "base/Keychain.h"

#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace Testing {

// Keychain items in memory. `failNextWrite` and `failReads` let tests see how callers handle a
// keychain that refuses, and `whileWriting`, which runs as each write begins (set it before the
// first), one that is slow.
class MemoryKeychain final : public TessaloyBase::Keychain {
public:
    std::optional<Bytes> read(std::string_view service, std::string_view account) const override {
        std::lock_guard guard(lock_);
        if (failReads)
            throw TessaloyBase::KeychainError(TessaloyBase::KeychainError::Kind::unreadable, "refused for the test");
        const auto found = items_.find(key(service, account));
        if (found == items_.end()) return std::nullopt;
        return found->second;
    }

    void write(std::string_view service, std::string_view account, const Bytes& data) override {
        if (whileWriting) whileWriting();
        std::lock_guard guard(lock_);
        if (std::exchange(failNextWrite, false)) {
            throw TessaloyBase::KeychainError(TessaloyBase::KeychainError::Kind::writeFailed, "refused for the test");
        }
        items_[key(service, account)] = data;
        ++writes;
    }

    bool remove(std::string_view service, std::string_view account) override {
        std::lock_guard guard(lock_);
        return items_.erase(key(service, account)) > 0;
    }

    std::function<void()> whileWriting;
    bool failNextWrite = false;
    bool failReads = false;
    int writes = 0;

private:
    static std::pair<std::string, std::string> key(std::string_view service, std::string_view account) {
        return {std::string(service), std::string(account)};
    }

    mutable std::mutex lock_;
    std::map<std::pair<std::string, std::string>, Bytes> items_;
};

} // namespace Testing
