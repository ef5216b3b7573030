#pragma once

#include "net/portmap/HttpClient.h"

#include <deque>
#include <map>
#include <mutex>

namespace Testing {

// A gateway device's web server from a script: each URL answers its replies in turn (a transport
// error once they run out); every call is recorded.
class ScriptedHttp final : public TessaloyNet::HttpClient {
public:
    struct Call {
        std::string url;
        std::vector<std::string> headers;
        std::string body;
    };

    void answer(const std::string& url, std::optional<Reply> reply) {
        std::lock_guard guard(lock_);
        replies_[url].push_back(std::move(reply));
    }
    std::vector<Call> calls() const {
        std::lock_guard guard(lock_);
        return calls_;
    }

    std::optional<Reply> get(const std::string& url) override { return take({url, {}, {}}); }
    std::optional<Reply> post(const std::string& url, const std::vector<std::string>& headers, const std::string& body,
                              std::chrono::seconds) override {
        return take({url, headers, body});
    }

private:
    std::optional<Reply> take(Call call) {
        std::lock_guard guard(lock_);
        auto& queue = replies_[call.url];
        calls_.push_back(std::move(call));
        if (queue.empty()) return std::nullopt;
        auto next = std::move(queue.front());
        queue.pop_front();
        return next;
    }

    mutable std::mutex lock_;
    std::map<std::string, std::deque<std::optional<Reply>>> replies_;
    std::vector<Call> calls_;
};

} // namespace Testing
