#include "tests/support/LoopbackHttpsServer.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace Testing {

namespace {

SSL_CTX* makeContext(const std::string& host, const std::vector<std::string>& alsoNamed,
                     const std::filesystem::path& authorityFile) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 86'400);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(host.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(certificate, name);
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, certificate, certificate, nullptr, nullptr, 0);
    std::string alternative = "DNS:" + host;
    for (const auto& other : alsoNamed) alternative += ",DNS:" + other;
    for (const auto& [nid, value] : {std::pair{NID_basic_constraints, std::string("critical,CA:TRUE")},
                                     std::pair{NID_subject_alt_name, alternative},
                                     std::pair{NID_key_usage, std::string("critical,digitalSignature,keyCertSign")}}) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &v3, nid, value.c_str());
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }
    X509_sign(certificate, key, EVP_sha256());
    FILE* file = std::fopen(authorityFile.c_str(), "w");
    PEM_write_X509(file, certificate);
    std::fclose(file);

    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(context, certificate);
    SSL_CTX_use_PrivateKey(context, key);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return context;
}

bool sendAll(SSL* ssl, const std::string& bytes) {
    return bytes.empty() || SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())) > 0;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

} // namespace

LoopbackHttpsServer::LoopbackHttpsServer(std::string host, const std::vector<std::string>& alsoNamed)
    : host_(std::move(host)) {
    // A client that hangs up mid-body (a cancelled download) must fail the write, not end the test.
    ::signal(SIGPIPE, SIG_IGN);
    char pattern[] = "/tmp/https-server-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    folder_ = pattern;
    authorityFile_ = folder_ / "authority.pem";
    context_ = makeContext(host_, alsoNamed, authorityFile_);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 || ::pipe(stopPipe_) != 0) {
        throw std::runtime_error("couldn't listen on loopback");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackHttpsServer::~LoopbackHttpsServer() {
    stopping_ = true;
    [[maybe_unused]] const auto written = ::write(stopPipe_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
    SSL_CTX_free(static_cast<SSL_CTX*>(context_));
    std::filesystem::remove_all(folder_);
}

void LoopbackHttpsServer::route(const std::string& path, Route route) {
    const std::lock_guard lock(mutex_);
    routes_[path] = std::move(route);
}

std::string LoopbackHttpsServer::connectTo() const { return ":443:127.0.0.1:" + std::to_string(port_); }

std::vector<LoopbackHttpsServer::Request> LoopbackHttpsServer::requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackHttpsServer::serve() {
    while (!stopping_) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN)) return;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        answer(client);
        ::close(client);
    }
}

void LoopbackHttpsServer::answer(int client) {
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context_));
    SSL_set_fd(ssl, client);
    std::string head;
    if (SSL_accept(ssl) == 1) {
        char chunk[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65'536) {
            const int count = SSL_read(ssl, chunk, sizeof chunk);
            if (count <= 0) break;
            head.append(chunk, static_cast<std::size_t>(count));
        }
    }
    if (head.find("\r\n\r\n") == std::string::npos) {
        SSL_free(ssl);
        return;
    }
    Request request;
    const std::size_t firstSpace = head.find(' ');
    request.path = head.substr(firstSpace + 1, head.find(' ', firstSpace + 1) - firstSpace - 1);
    for (std::size_t line = head.find("\r\n") + 2; line < head.find("\r\n\r\n");) {
        const std::size_t end = head.find("\r\n", line);
        const std::string text = head.substr(line, end - line);
        const std::size_t colon = text.find(':');
        if (colon != std::string::npos) {
            request.headers[lowered(text.substr(0, colon))] = text.substr(text.find_first_not_of(' ', colon + 1));
        }
        line = end + 2;
    }
    Route route;
    route.status = 404;
    {
        const std::lock_guard lock(mutex_);
        requests_.push_back(request);
        if (const auto found = routes_.find(request.path); found != routes_.end()) route = found->second;
    }
    std::string response = "HTTP/1.1 " + std::to_string(route.status) + " Scripted\r\nConnection: close\r\n";
    if (route.announce) {
        response += "Content-Length: " + std::to_string(route.announcedLength.value_or(route.body.size())) + "\r\n";
    }
    if (!route.location.empty()) response += "Location: " + route.location + "\r\n";
    response += "\r\n";
    bool open = sendAll(ssl, response);
    const std::size_t sent = std::min(route.body.size(), route.closeAfter.value_or(route.body.size()));
    if (route.stall) {
        pollfd stop{stopPipe_[0], POLLIN, 0};
        while (!stopping_ && ::poll(&stop, 1, 50) == 0) {
            // Nothing is sent; the client's idle time-out or cancellation ends the wait.
            pollfd peer{client, POLLIN, 0};
            if (::poll(&peer, 1, 0) > 0) break;
        }
    } else if (route.drip) {
        for (std::size_t i = 0; open && i < sent && !stopping_; ++i) {
            open = sendAll(ssl, route.body.substr(i, 1));
            std::this_thread::sleep_for(route.dripEvery);
        }
    } else if (open) {
        sendAll(ssl, route.body.substr(0, sent));
    }
    if (!route.closeAfter) SSL_shutdown(ssl);
    SSL_free(ssl);
}

} // namespace Testing
