#include "net/channel/TlsParameters.h"

#include "net/channel/CryptoError.h"
#include "net/channel/SelfSignedCertificate.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace TessaloyNet {

struct TlsParameters::State {
    State(Side side)
        : side(side), context(side == Side::server ? asio::ssl::context::tls_server : asio::ssl::context::tls_client) {}

    Side side;
    asio::ssl::context context;
    PeerCheck check;
    std::function<void()> attemptObserver;
    std::optional<std::string> refusedByPeer;
};

namespace {

int refusalSlot() {
    static const int slot = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return slot;
}

// Replaces OpenSSL's chain verification: only the leaf's key counts.
int checkPeer(X509_STORE_CTX* store, void* argument) {
    const auto* check = static_cast<const TlsParameters::PeerCheck*>(argument);
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    const std::optional<TessaloyCore::Bytes> key = SelfSignedCertificate::publicKey(X509_STORE_CTX_get0_cert(store));
    std::optional<std::string> refusal;
    try {
        refusal = (*check)(key ? TessaloyCore::ByteView(*key) : TessaloyCore::ByteView());
    } catch (...) {
        refusal = "The peer's key could not be checked.";
    }
    if (!refusal) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    if (ssl) {
        if (auto* into = static_cast<std::optional<std::string>*>(SSL_get_ex_data(ssl, refusalSlot()))) {
            *into = std::move(refusal);
        }
    }
    // Makes the handshake fail with a bad_certificate alert.
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
    return 0;
}

int clientHello(SSL*, int*, void* argument) {
    const auto* observer = static_cast<const std::function<void()>*>(argument);
    if (*observer) (*observer)();
    return SSL_CLIENT_HELLO_SUCCESS;
}

} // namespace

TlsParameters::TlsParameters(Side side, const TlsIdentity& identity, PeerCheck check)
    : TlsParameters(side, std::move(check)) {
    identity.install(state_->context.native_handle());
}

TlsParameters::TlsParameters(Side side, PeerCheck check) : state_(std::make_shared<State>(side)) {
    state_->check = std::move(check);
    SSL_CTX* context = state_->context.native_handle();
    if (SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) != 1) {
        throw CryptoError("could not limit TLS to version 1.3");
    }
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(context, 0);
    const int mode = side == Side::server ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT : SSL_VERIFY_PEER;
    SSL_CTX_set_verify(context, mode, nullptr);
    SSL_CTX_set_cert_verify_callback(context, checkPeer, &state_->check);
    ERR_clear_error();
}

TlsParameters::Side TlsParameters::side() const noexcept { return state_->side; }

asio::ssl::context& TlsParameters::context() const noexcept { return state_->context; }

void TlsParameters::observeAttempts(std::function<void()> observer) {
    state_->attemptObserver = std::move(observer);
    SSL_CTX_set_client_hello_cb(state_->context.native_handle(), clientHello, &state_->attemptObserver);
}

void TlsParameters::setRefusedByPeerReason(std::string reason) { state_->refusedByPeer = std::move(reason); }

const std::optional<std::string>& TlsParameters::refusedByPeerReason() const noexcept { return state_->refusedByPeer; }

void TlsParameters::recordRefusal(SSL* ssl, std::optional<std::string>* refusal) {
    SSL_set_ex_data(ssl, refusalSlot(), refusal);
}

} // namespace TessaloyNet
