#pragma once

#include "net/portmap/HttpClient.h"

#include <deque>
#include <map>

namespace Testing {

// A gateway device's web server from a script: each URL answers its replies in turn, then fails as
// an unreachable server would. The bodies posted are kept.
class ScriptedHttp final : public TessaloyNet::HttpClient {
public:
    std::map<std::string, std::deque<std::optional<Reply>>> replies;
    std::vector<std::string> posted;

    std::optional<Reply> get(const std::string& url) override { return take(url); }
    std::optional<Reply> post(const std::string& url, const std::vector<std::string>&, const std::string& body,
                              std::chrono::seconds) override {
        posted.push_back(body);
        return take(url);
    }

private:
    std::optional<Reply> take(const std::string& url) {
        auto& queue = replies[url];
        if (queue.empty()) return std::nullopt;
        auto next = std::move(queue.front());
        queue.pop_front();
        return next;
    }
};

} // namespace Testing
