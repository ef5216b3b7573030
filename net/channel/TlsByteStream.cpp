#include "net/channel/TlsByteStream.h"

#include "net/channel/RefusalReason.h"
#include "net/channel/SelfSignedCertificate.h"

#include <asio/connect.hpp>
#include <asio/ssl/error.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace TessaloyNet {
namespace {

asio::ip::tcp::socket rebound(const TlsByteStream::Executor& executor, asio::ip::tcp::socket accepted) {
    std::error_code error;
    const auto local = accepted.local_endpoint(error);
    const auto protocol = !error ? local.protocol() : asio::ip::tcp::v6();
    const auto handle = accepted.release(error);
    if (error) return asio::ip::tcp::socket(executor);
    return asio::ip::tcp::socket(executor, protocol, handle);
}

bool isSslReason(std::error_code error, int reason) {
    return error.category() == asio::error::get_ssl_category() &&
           ERR_GET_REASON(static_cast<unsigned long>(error.value())) == reason;
}

} // namespace

TlsByteStream::TlsByteStream(const Executor& executor, asio::ip::tcp::socket accepted, TlsParameters parameters)
    : parameters_(std::move(parameters)), stream_(rebound(executor, std::move(accepted)), parameters_.context()) {
    prepare();
}

TlsByteStream::TlsByteStream(const Executor& executor, asio::ip::tcp::endpoint endpoint, TlsParameters parameters)
    : parameters_(std::move(parameters)),
      stream_(asio::ip::tcp::socket(executor), parameters_.context()),
      connectTo_(endpoint) {
    prepare();
}

TlsByteStream::~TlsByteStream() { TlsParameters::recordRefusal(stream_.native_handle(), nullptr); }

void TlsByteStream::prepare() {
    SSL* ssl = stream_.native_handle();
    TlsParameters::recordRefusal(ssl, &refusal_);
    // Keeps the record buffers between reads instead of freeing and allocating them again.
    SSL_clear_mode(ssl, SSL_MODE_RELEASE_BUFFERS);
}

void TlsByteStream::handshake(Handler handler) {
    const auto side = parameters_.side() == TlsParameters::Side::server ? asio::ssl::stream_base::server
                                                                        : asio::ssl::stream_base::client;
    if (!connectTo_) {
        std::error_code ignored;
        stream_.lowest_layer().set_option(asio::ip::tcp::no_delay(true), ignored);
        stream_.async_handshake(
            side, [this, handler = std::move(handler)](std::error_code error) { handshaken(error, handler); });
        return;
    }
    stream_.lowest_layer().async_connect(
        *connectTo_, [this, side, handler = std::move(handler)](std::error_code connectError) mutable {
            if (connectError) {
                handler(connectError);
                return;
            }
            std::error_code ignored;
            stream_.lowest_layer().set_option(asio::ip::tcp::no_delay(true), ignored);
            stream_.async_handshake(
                side, [this, handler = std::move(handler)](std::error_code error) { handshaken(error, handler); });
        });
}

void TlsByteStream::handshaken(std::error_code error, const Handler& handler) {
    if (!error) {
        X509* certificate = SSL_get0_peer_certificate(stream_.native_handle());
        peerPublicKey_ = SelfSignedCertificate::publicKey(certificate);
        peerName_ = SelfSignedCertificate::commonName(certificate);
    }
    ERR_clear_error();
    handler(error);
}

void TlsByteStream::readSome(std::span<std::uint8_t> space, IoHandler handler) {
    stream_.async_read_some(asio::buffer(space.data(), space.size()), std::move(handler));
}

void TlsByteStream::writeSome(WriteBuffers buffers, IoHandler handler) {
    if (buffers[0].size() == 0) {
        stream_.async_write_some(buffers[1], std::move(handler));
    } else {
        stream_.async_write_some(buffers, std::move(handler));
    }
}

void TlsByteStream::shutdown(Handler handler) { stream_.async_shutdown(std::move(handler)); }

void TlsByteStream::close() noexcept {
    std::error_code ignored;
    stream_.lowest_layer().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    stream_.lowest_layer().close(ignored);
}

std::string TlsByteStream::handshakeFailure(std::error_code error) const {
    if (refusal_) return *refusal_;
    const auto& refusedByPeer = parameters_.refusedByPeerReason();
    if (refusedByPeer && (isSslReason(error, SSL_R_SSLV3_ALERT_BAD_CERTIFICATE) ||
                          isSslReason(error, SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN) ||
                          isSslReason(error, SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE) ||
                          isSslReason(error, SSL_R_TLSV1_ALERT_UNKNOWN_CA))) {
        return *refusedByPeer;
    }
    if (isSslReason(error, SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE)) {
        return std::string(RefusalReason::certificateRequired);
    }
    if (error == asio::error::eof || error == asio::ssl::error::stream_truncated) {
        return std::string(RefusalReason::handshakeIncomplete);
    }
    return std::string(RefusalReason::handshakeFailedPrefix) + error.message();
}

} // namespace TessaloyNet
