#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace Testing {

// Idle TCP connections to the listener that never say a word, each opened again as soon as the
// listener closes it: `perSource` from each source address, at most `openingsPerSecond` openings a
// second and `maximumOpenings` in all, until the flood is destroyed.
class IdleFlood {
public:
    IdleFlood(asio::ip::tcp::endpoint target, std::vector<asio::ip::address> sources, int perSource,
              int openingsPerSecond = 50, int maximumOpenings = 2000)
        : target_(target),
          interval_(std::chrono::microseconds(1'000'000 / openingsPerSecond)),
          maximumOpenings_(maximumOpenings) {
        for (const auto& source : sources) {
            for (int i = 0; i < perSource; ++i) slots_.push_back({source, nullptr});
        }
        thread_ = std::thread([this] { run(); });
    }
    ~IdleFlood() {
        stop_ = true;
        thread_.join();
    }
    IdleFlood(const IdleFlood&) = delete;
    IdleFlood& operator=(const IdleFlood&) = delete;

    int openings() const { return openings_.load(); }

private:
    struct Slot {
        asio::ip::address source;
        std::unique_ptr<asio::ip::tcp::socket> socket;
    };

    void run() {
        auto nextOpening = std::chrono::steady_clock::now();
        while (!stop_ && openings_ < maximumOpenings_) {
            for (auto& slot : slots_) {
                if (slot.socket || std::chrono::steady_clock::now() < nextOpening) continue;
                open(slot);
                nextOpening = std::chrono::steady_clock::now() + interval_;
            }
            std::vector<pollfd> watched;
            std::vector<Slot*> owners;
            for (auto& slot : slots_) {
                if (!slot.socket) continue;
                watched.push_back({slot.socket->native_handle(), POLLIN, 0});
                owners.push_back(&slot);
            }
            // Woken by a close; the time-out only paces the openings and looks at stop_.
            if (::poll(watched.data(), watched.size(), 20) <= 0) continue;
            for (std::size_t i = 0; i < watched.size(); ++i) {
                if (watched[i].revents != 0) owners[i]->socket.reset();
            }
        }
    }

    void open(Slot& slot) {
        auto socket = std::make_unique<asio::ip::tcp::socket>(io_);
        std::error_code error;
        socket->open(target_.protocol(), error);
        if (!error) socket->bind({slot.source, 0}, error);
        if (!error) socket->connect(target_, error);
        ++openings_;
        if (!error) slot.socket = std::move(socket);
    }

    asio::io_context io_;
    const asio::ip::tcp::endpoint target_;
    const std::chrono::steady_clock::duration interval_;
    const int maximumOpenings_;
    std::vector<Slot> slots_;
    std::atomic<bool> stop_{false};
    std::atomic<int> openings_{0};
    std::thread thread_;
};

} // namespace Testing
