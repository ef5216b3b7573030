#pragma once

#include "core/Bytes.h"
#include "net/channel/TlsParameters.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include <openssl/ssl.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace Testing {

// The first flight of a TLS client with these parameters: all that a handshake going no further
// sends.
inline TessaloyCore::Bytes clientHello(const TessaloyNet::TlsParameters& client) {
    const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(client.context().native_handle()), SSL_free);
    BIO* sent = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl.get(), BIO_new(BIO_s_mem()), sent);
    SSL_connect(ssl.get());
    char* data = nullptr;
    const long length = BIO_get_mem_data(sent, &data);
    return {data, data + length};
}

// Idle TCP connections to the listener that send `hello` (nothing when empty) and then never say a
// word, each opened again as soon as the listener closes it: `perSource` from each source address,
// at most `openingsPerSecond` openings a second and `maximumOpenings` in all, until the flood is
// destroyed.
class IdleFlood {
public:
    IdleFlood(asio::ip::tcp::endpoint target, std::vector<asio::ip::address> sources, int perSource,
              int openingsPerSecond = 50, int maximumOpenings = 2000, TessaloyCore::Bytes hello = {})
        : target_(target),
          interval_(std::chrono::microseconds(1'000'000 / openingsPerSecond)),
          maximumOpenings_(maximumOpenings),
          hello_(std::move(hello)) {
        // One of each source after another: the first closed slots come from all sources alike.
        for (int i = 0; i < perSource; ++i) {
            for (const auto& source : sources) slots_.push_back({source, nullptr});
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
            bool waiting = false;
            for (auto& slot : slots_) {
                if (slot.socket) continue;
                waiting = std::chrono::steady_clock::now() < nextOpening;
                if (waiting) break;
                open(slot);
                // On schedule however long opening took; no burst after a pause.
                nextOpening = std::max(nextOpening + interval_, std::chrono::steady_clock::now() - interval_);
            }
            std::vector<pollfd> watched;
            std::vector<Slot*> owners;
            for (auto& slot : slots_) {
                if (!slot.socket) continue;
                watched.push_back({slot.socket->native_handle(), POLLRDHUP, 0});
                owners.push_back(&slot);
            }
            // Woken by a close, not by the listener's answer; the time-out paces the openings and
            // looks at stop_.
            if (::poll(watched.data(), watched.size(), waiting ? 1 : 20) <= 0) continue;
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
        if (!error && !hello_.empty()) asio::write(*socket, asio::buffer(hello_), error);
        ++openings_;
        if (!error) slot.socket = std::move(socket);
    }

    asio::io_context io_;
    const asio::ip::tcp::endpoint target_;
    const std::chrono::steady_clock::duration interval_;
    const int maximumOpenings_;
    const TessaloyCore::Bytes hello_;
    std::vector<Slot> slots_;
    std::atomic<bool> stop_{false};
    std::atomic<int> openings_{0};
    std::thread thread_;
};

} // namespace Testing
