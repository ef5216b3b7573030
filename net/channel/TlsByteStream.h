#pragma once

#include "base/SerialQueue.h"
#include "net/channel/ByteStream.h"
#include "net/channel/TlsParameters.h"

#include <openssl/ssl.h>
#include <asio/ip/tcp.hpp>

#include <array>
#include <memory>
#include <optional>
#include <string>

namespace TessaloyNet {

// TLS 1.3 over one TCP connection: OpenSSL reads and writes the non-blocking socket through Asio, and
// Asio tells when the socket is ready, on the given queue's executor. A write goes out as many
// records as the socket takes at once; OpenSSL reads ahead, and what it already holds is read
// without waiting. The peer is judged by the parameters' check during the handshake.
class TlsByteStream final : public ByteStream {
public:
    using Executor = TessaloyBase::SerialQueue::Executor;

    // Over a connection already made (accepted, or joined through a relay), which moves onto
    // `executor`; the parameters tell the side.
    TlsByteStream(const Executor& executor, asio::ip::tcp::socket accepted, TlsParameters parameters);
    // Client side: connects to `endpoint` as the first step of the handshake.
    TlsByteStream(const Executor& executor, asio::ip::tcp::endpoint endpoint, TlsParameters parameters);
    ~TlsByteStream() override;

    void handshake(Handler handler) override;
    void readSome(std::span<std::uint8_t> space, IoHandler handler) override;
    void writeSome(WriteBuffers buffers, IoHandler handler) override;
    std::size_t readNow(std::span<std::uint8_t> space, std::error_code& error) override;
    std::size_t writeNow(WriteBuffers buffers, std::error_code& error) override;
    void shutdown(Handler handler) override;
    void close() noexcept override;

    std::optional<TessaloyCore::Bytes> peerPublicKey() const override { return peerPublicKey_; }
    std::optional<std::string> peerName() const override { return peerName_; }
    std::string handshakeFailure(std::error_code error) const override;

private:
    struct SslFree {
        void operator()(SSL* ssl) const noexcept { SSL_free(ssl); }
    };
    enum class Step { done, wantRead, wantWrite, failed };

    void attach();
    void continueHandshake(Handler handler);
    // `inCall`: still inside readSome or writeSome, whose handler must wait for the queue.
    void continueRead(IoHandler handler, bool inCall);
    void continueWrite(IoHandler handler, bool inCall);
    void complete(IoHandler handler, std::error_code error, std::size_t count, bool inCall);
    // Makes `buffers` the write under way.
    void prepareWrite(const WriteBuffers& buffers);
    // Writes records of the write under way until all of it is out or the socket takes no more;
    // returns the count written and sets `next` to why it stopped.
    std::size_t writeRecords(Step& next, std::error_code& error);
    void continueShutdown(Handler handler);
    // Classifies the result `result` of an OpenSSL call; sets `error` when it failed.
    Step step(int result, std::error_code& error);
    // Waits until the socket can take the step, then runs `retry`; fails `fail` when the wait does.
    template <typename Retry, typename Fail>
    void await(Step want, Retry retry, Fail fail);
    void post(std::function<void()> work);

    TlsParameters parameters_;
    asio::ip::tcp::socket socket_;
    std::optional<asio::ip::tcp::endpoint> connectTo_;
    std::unique_ptr<SSL, SslFree> ssl_;
    // Written by the peer check during the handshake.
    std::optional<std::string> refusal_;
    std::optional<TessaloyCore::Bytes> peerPublicKey_;
    std::optional<std::string> peerName_;

    // The read under way.
    std::span<std::uint8_t> readSpace_;
    // The write under way: OpenSSL must be given the same bytes again after a wait (the record it
    // began). A packet's header and maybe the start of its payload, copied into one record here.
    std::array<std::uint8_t, SSL3_RT_MAX_PLAIN_LENGTH> first_{};
    const std::uint8_t* writeData_ = nullptr;
    std::size_t writeLength_ = 0;
};

} // namespace TessaloyNet
