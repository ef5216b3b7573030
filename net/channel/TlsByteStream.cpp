#include "net/channel/TlsByteStream.h"

#include "net/channel/RefusalReason.h"
#include "net/channel/SelfSignedCertificate.h"

#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/ssl/error.hpp>

#include <openssl/bio.h>
#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// OpenSSL reads and writes through the stream's Asio socket, never through a descriptor number of
// its own: once the socket is closed, a step still queued fails instead of touching whichever
// connection has been given that number since. The socket is non-blocking, so no step waits in a
// read, and Asio sends with MSG_NOSIGNAL: a peer that went away fails the write instead of raising
// SIGPIPE in the whole process.
template <typename Transfer>
int throughSocket(BIO* bio, int direction, Transfer transfer) {
    auto& socket = *static_cast<asio::ip::tcp::socket*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    std::error_code error;
    const std::size_t count = transfer(socket, error);
    if (!error) return static_cast<int>(count);
    if (error == asio::error::eof) return 0;
    if (error == asio::error::would_block) {
        BIO_set_flags(bio, direction | BIO_FLAGS_SHOULD_RETRY);
    } else {
        errno = error.value();
    }
    return -1;
}

int socketRead(BIO* bio, char* data, int length) {
    return throughSocket(bio, BIO_FLAGS_READ, [&](asio::ip::tcp::socket& socket, std::error_code& error) {
        return socket.receive(asio::buffer(data, static_cast<std::size_t>(length)), 0, error);
    });
}

int socketWrite(BIO* bio, const char* data, int length) {
    return throughSocket(bio, BIO_FLAGS_WRITE, [&](asio::ip::tcp::socket& socket, std::error_code& error) {
        return socket.send(asio::buffer(data, static_cast<std::size_t>(length)), 0, error);
    });
}

long socketControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

const BIO_METHOD* asioSocket() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "Asio socket");
        BIO_meth_set_read(made, socketRead);
        BIO_meth_set_write(made, socketWrite);
        BIO_meth_set_ctrl(made, socketControl);
        return made;
    }();
    return method;
}

constexpr std::size_t readAheadBytes = 256 * 1024;

} // namespace

TlsByteStream::TlsByteStream(const Executor& executor, asio::ip::tcp::socket accepted, TlsParameters parameters)
    : parameters_(std::move(parameters)), socket_(rebound(executor, std::move(accepted))) {
    attach();
}

TlsByteStream::TlsByteStream(const Executor& executor, asio::ip::tcp::endpoint endpoint, TlsParameters parameters)
    : parameters_(std::move(parameters)), socket_(executor), connectTo_(endpoint) {}

TlsByteStream::~TlsByteStream() {
    if (ssl_) TlsParameters::recordRefusal(ssl_.get(), nullptr);
}

void TlsByteStream::attach() {
    std::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    socket_.non_blocking(true, ignored);
    ssl_.reset(SSL_new(parameters_.context().native_handle()));
    if (!ssl_) return;
    SSL* ssl = ssl_.get();
    TlsParameters::recordRefusal(ssl, &refusal_);
    BIO* bio = BIO_new(asioSocket());
    if (!bio) {
        ssl_.reset();
        return;
    }
    BIO_set_data(bio, &socket_);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    // Reads several records per system call when they are there.
    SSL_set_read_ahead(ssl, 1);
    SSL_set_default_read_buffer_len(ssl, readAheadBytes);
    // Each SSL_write returns after one record, so a write can tell how much went out before the
    // socket filled up; the record it began is offered again from wherever its bytes now are.
    SSL_set_mode(ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // A handshake waiting on its peer holds no buffers: a flood of hellos keeps hundreds waiting.
    SSL_set_mode(ssl, SSL_MODE_RELEASE_BUFFERS);
    if (parameters_.side() == TlsParameters::Side::server) {
        SSL_set_accept_state(ssl);
    } else {
        SSL_set_connect_state(ssl);
    }
    ERR_clear_error();
}

void TlsByteStream::post(std::function<void()> work) { asio::post(socket_.get_executor(), std::move(work)); }

TlsByteStream::Step TlsByteStream::step(int result, std::error_code& error) {
    if (result > 0) {
        ERR_clear_error();
        return Step::done;
    }
    const int reason = SSL_get_error(ssl_.get(), result);
    switch (reason) {
        case SSL_ERROR_WANT_READ:
            return Step::wantRead;
        case SSL_ERROR_WANT_WRITE:
            return Step::wantWrite;
        case SSL_ERROR_ZERO_RETURN:
            error = asio::error::eof;
            break;
        case SSL_ERROR_SYSCALL:
            error = errno != 0 ? std::error_code(errno, asio::error::get_system_category())
                               : std::error_code(asio::ssl::error::stream_truncated);
            break;
        default: {
            const unsigned long code = ERR_peek_last_error();
            if (ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                error = asio::ssl::error::stream_truncated;
            } else {
                error = std::error_code(static_cast<int>(code), asio::error::get_ssl_category());
            }
        }
    }
    ERR_clear_error();
    return Step::failed;
}

template <typename Retry, typename Fail>
void TlsByteStream::await(Step want, Retry retry, Fail fail) {
    const auto wait = want == Step::wantRead ? asio::socket_base::wait_read : asio::socket_base::wait_write;
    socket_.async_wait(wait, [retry = std::move(retry), fail = std::move(fail)](std::error_code error) mutable {
        if (error) {
            fail(error);
        } else {
            retry();
        }
    });
}

void TlsByteStream::handshake(Handler handler) {
    if (!connectTo_) {
        if (!ssl_) {
            post([handler = std::move(handler)] { handler(asio::error::no_memory); });
            return;
        }
        post([this, handler = std::move(handler)]() mutable { continueHandshake(std::move(handler)); });
        return;
    }
    socket_.async_connect(*connectTo_, [this, handler = std::move(handler)](std::error_code error) mutable {
        if (!error) attach();
        if (!error && !ssl_) error = asio::error::no_memory;
        if (error) {
            handler(error);
            return;
        }
        continueHandshake(std::move(handler));
    });
}

void TlsByteStream::continueHandshake(Handler handler) {
    std::error_code error;
    const Step next = step(SSL_do_handshake(ssl_.get()), error);
    if (next == Step::wantRead || next == Step::wantWrite) {
        await(
            next, [this, handler]() mutable { continueHandshake(std::move(handler)); },
            [handler](std::error_code failure) { handler(failure); });
        return;
    }
    if (next == Step::done) {
        // An open channel keeps its buffers rather than allocating them again for every read.
        SSL_clear_mode(ssl_.get(), SSL_MODE_RELEASE_BUFFERS);
        const X509* certificate = SSL_get0_peer_certificate(ssl_.get());
        peerPublicKey_ = SelfSignedCertificate::publicKey(certificate);
        peerName_ = SelfSignedCertificate::commonName(certificate);
    }
    handler(error);
}

void TlsByteStream::readSome(std::span<std::uint8_t> space, IoHandler handler) {
    readSpace_ = space;
    continueRead(std::move(handler), true);
}

void TlsByteStream::continueRead(IoHandler handler, bool inCall) {
    std::size_t count = 0;
    std::error_code error;
    const Step next = step(SSL_read_ex(ssl_.get(), readSpace_.data(), readSpace_.size(), &count) == 1 ? 1 : 0, error);
    if (next == Step::wantRead || next == Step::wantWrite) {
        await(
            next, [this, handler]() mutable { continueRead(std::move(handler), false); },
            [handler](std::error_code failure) { handler(failure, 0); });
        return;
    }
    complete(std::move(handler), error, count, inCall);
}

void TlsByteStream::complete(IoHandler handler, std::error_code error, std::size_t count, bool inCall) {
    if (error) count = 0;
    if (!inCall) {
        // Already on the queue, after a wait.
        handler(error, count);
        return;
    }
    // Never inside the call.
    post([handler = std::move(handler), error, count] { handler(error, count); });
}

std::size_t TlsByteStream::readNow(std::span<std::uint8_t> space, std::error_code& error) {
    std::size_t count = 0;
    const Step next = step(SSL_read_ex(ssl_.get(), space.data(), space.size(), &count) == 1 ? 1 : 0, error);
    return next == Step::done ? count : 0;
}

void TlsByteStream::prepareWrite(const WriteBuffers& buffers) {
    const auto* header = static_cast<const std::uint8_t*>(buffers[0].data());
    const auto* payload = static_cast<const std::uint8_t*>(buffers[1].data());
    if (buffers[0].size() > 0) {
        // The payload's bytes beyond its whole records ride in the header's record when they fit:
        // one record fewer, for a copy of less than a record. Otherwise the header goes alone and
        // nothing of the payload is copied.
        const std::size_t beyondWholeRecords = buffers[1].size() % first_.size();
        const std::size_t fromPayload =
            beyondWholeRecords <= first_.size() - buffers[0].size() ? beyondWholeRecords : 0;
        std::memcpy(first_.data(), header, buffers[0].size());
        if (fromPayload > 0) std::memcpy(first_.data() + buffers[0].size(), payload, fromPayload);
        writeData_ = first_.data();
        writeLength_ = buffers[0].size() + fromPayload;
    } else {
        writeData_ = payload;
        writeLength_ = buffers[1].size();
    }
}

std::size_t TlsByteStream::writeRecords(Step& next, std::error_code& error) {
    std::size_t total = 0;
    next = Step::done;
    while (total < writeLength_) {
        std::size_t count = 0;
        next = step(SSL_write_ex(ssl_.get(), writeData_ + total, writeLength_ - total, &count) == 1 ? 1 : 0, error);
        if (next != Step::done) break;
        total += count;
    }
    return total;
}

void TlsByteStream::writeSome(WriteBuffers buffers, IoHandler handler) {
    prepareWrite(buffers);
    continueWrite(std::move(handler), true);
}

void TlsByteStream::continueWrite(IoHandler handler, bool inCall) {
    Step next = Step::done;
    std::error_code error;
    const std::size_t count = writeRecords(next, error);
    if (count == 0 && (next == Step::wantRead || next == Step::wantWrite)) {
        await(
            next, [this, handler]() mutable { continueWrite(std::move(handler), false); },
            [handler](std::error_code failure) { handler(failure, 0); });
        return;
    }
    complete(std::move(handler), error, count, inCall);
}

std::size_t TlsByteStream::writeNow(WriteBuffers buffers, std::error_code& error) {
    prepareWrite(buffers);
    Step next = Step::done;
    return writeRecords(next, error);
}

void TlsByteStream::shutdown(Handler handler) { continueShutdown(std::move(handler)); }

void TlsByteStream::continueShutdown(Handler handler) {
    // Sends close_notify and returns: the peer's own close_notify arrives through the reads.
    const int result = SSL_shutdown(ssl_.get());
    std::error_code error;
    const Step next = result >= 0 ? Step::done : step(result, error);
    if (next == Step::wantWrite) {
        await(
            next, [this, handler]() mutable { continueShutdown(std::move(handler)); },
            [handler](std::error_code failure) { handler(failure); });
        return;
    }
    ERR_clear_error();
    post([handler = std::move(handler), error] { handler(error); });
}

void TlsByteStream::close() noexcept {
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
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
