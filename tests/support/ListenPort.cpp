#include "tests/support/ListenPort.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <random>
#include <stdexcept>

namespace Testing {

std::uint16_t unusedListenPort() {
    // Linux hands out ports from 32768 up for outgoing connections.
    std::uniform_int_distribution<int> below(10'000, 32'767);
    std::random_device seed;
    std::mt19937 random(seed());
    asio::io_context context;
    for (int attempt = 0; attempt < 1'000; ++attempt) {
        const auto port = static_cast<std::uint16_t>(below(random));
        asio::ip::tcp::acceptor acceptor(context);
        asio::error_code error;
        acceptor.open(asio::ip::tcp::v6(), error);
        if (!error) acceptor.bind({asio::ip::address_v6::any(), port}, error);
        if (!error) return port;
    }
    throw std::runtime_error("no unused port to listen on");
}

} // namespace Testing
