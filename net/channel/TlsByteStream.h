#pragma once

#include "net/channel/ByteStream.h"
#include "net/channel/TlsParameters.h"
#include "platform/SerialQueue.h"

#include <asio/ip/tcp.hpp>
#include <asio/ssl/stream.hpp>

#include <optional>
#include <string>

namespace TessaloyNet {

// TLS 1.3 over one TCP connection, through Asio's ssl::stream on the given queue's executor.
// The peer is judged by the parameters' check during the handshake.
class TlsByteStream final : public ByteStream {
public:
    using Executor = Platform::SerialQueue::Executor;

    // Server side, over an accepted connection (which moves onto `executor`).
    TlsByteStream(const Executor& executor, asio::ip::tcp::socket accepted, TlsParameters parameters);
    // Client side: connects to `endpoint` as the first step of the handshake.
    TlsByteStream(const Executor& executor, asio::ip::tcp::endpoint endpoint, TlsParameters parameters);
    ~TlsByteStream() override;

    void handshake(Handler handler) override;
    void readSome(std::span<std::uint8_t> space, IoHandler handler) override;
    void writeSome(WriteBuffers buffers, IoHandler handler) override;
    void shutdown(Handler handler) override;
    void close() noexcept override;

    std::optional<TessaloyCore::Bytes> peerPublicKey() const override { return peerPublicKey_; }
    std::optional<std::string> peerName() const override { return peerName_; }
    std::string handshakeFailure(std::error_code error) const override;

private:
    void prepare();
    void handshaken(std::error_code error, const Handler& handler);

    TlsParameters parameters_;
    asio::ssl::stream<asio::ip::tcp::socket> stream_;
    std::optional<asio::ip::tcp::endpoint> connectTo_;
    // Written by the peer check during the handshake.
    std::optional<std::string> refusal_;
    std::optional<TessaloyCore::Bytes> peerPublicKey_;
    std::optional<std::string> peerName_;
};

} // namespace TessaloyNet
