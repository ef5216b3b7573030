#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Testing {

// An HTTPS server on 127.0.0.1 for one host name (and any others it is also named), with a
// self-signed certificate written to authorityFile() for the client to trust. Answers scripted
// routes one connection at a time.
class LoopbackHttpsServer {
public:
    struct Route {
        int status = 200;
        std::string body;
        // The Content-Length sent: the body's size when unset; `announce` false sends none.
        std::optional<std::uint64_t> announcedLength;
        bool announce = true;
        std::string location;                  // a Location header, for redirects
        std::optional<std::size_t> closeAfter; // closes the connection after this many body bytes
        bool stall = false;                    // sends the head, then nothing until stopped
        bool drip = false;                     // sends the body one byte at a time, `dripEvery` apart
        std::chrono::milliseconds dripEvery{5};

        static Route redirectTo(std::string location) {
            Route route;
            route.status = 302;
            route.location = std::move(location);
            return route;
        }
    };

    struct Request {
        std::string path;
        std::map<std::string, std::string> headers; // names in lower case
    };

    explicit LoopbackHttpsServer(std::string host, const std::vector<std::string>& alsoNamed = {});
    ~LoopbackHttpsServer();
    LoopbackHttpsServer(const LoopbackHttpsServer&) = delete;
    LoopbackHttpsServer& operator=(const LoopbackHttpsServer&) = delete;

    void route(const std::string& path, Route route);
    const std::string& host() const { return host_; }
    std::uint16_t port() const { return port_; }
    std::string url(const std::string& path) const { return "https://" + host_ + path; }
    // For libcurl's CONNECT_TO: port 443 of every host goes to this server.
    std::string connectTo() const;
    const std::filesystem::path& authorityFile() const { return authorityFile_; }
    std::vector<Request> requests() const;

private:
    void serve();
    void answer(int client);

    std::string host_;
    std::filesystem::path folder_;
    std::filesystem::path authorityFile_;
    void* context_ = nullptr; // SSL_CTX
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::map<std::string, Route> routes_;
    std::vector<Request> requests_;
    std::thread thread_;
};

} // namespace Testing
