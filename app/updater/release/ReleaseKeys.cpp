#include "app/updater/release/ReleaseKeys.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <utility>

#ifndef PLOVANDER_PUBLISHER_KEY
#define PLOVANDER_PUBLISHER_KEY ""
#endif
#ifndef PLOVANDER_NOTARY_KEY
#define PLOVANDER_NOTARY_KEY ""
#endif

namespace Plovander {

namespace {

EVP_PKEY* pkey(void* key) { return static_cast<EVP_PKEY*>(key); }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

} // namespace

TrustedKeys TrustedKeys::pinned() { return {fromHex(PLOVANDER_PUBLISHER_KEY), fromHex(PLOVANDER_NOTARY_KEY)}; }

std::optional<PublicKey> TrustedKeys::fromHex(std::string_view hex) {
    PublicKey key{};
    if (hex.size() != key.size() * 2) return std::nullopt;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const int high = hexValue(hex[2 * i]);
        const int low = hexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        key[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return key;
}

SigningKey SigningKey::generate() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (!key) throw std::runtime_error("couldn't make an Ed25519 key");
    return SigningKey(key);
}

SigningKey SigningKey::load(const std::filesystem::path& pem) {
    const std::unique_ptr<FILE, FileCloser> file(std::fopen(pem.c_str(), "rb"));
    if (!file) throw std::runtime_error("couldn't open " + pem.string());
    EVP_PKEY* key = PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr);
    if (!key) throw std::runtime_error(pem.string() + " holds no private key");
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_ED25519) {
        EVP_PKEY_free(key);
        throw std::runtime_error(pem.string() + " holds no Ed25519 key");
    }
    return SigningKey(key);
}

SigningKey::SigningKey(SigningKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}

SigningKey& SigningKey::operator=(SigningKey&& other) noexcept {
    std::swap(key_, other.key_);
    return *this;
}

SigningKey::~SigningKey() { EVP_PKEY_free(pkey(key_)); }

void SigningKey::save(const std::filesystem::path& pem) const {
    const int fd = ::open(pem.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("couldn't create " + pem.string());
    const std::unique_ptr<FILE, FileCloser> file(::fdopen(fd, "wb"));
    if (!file) {
        ::close(fd);
        throw std::runtime_error("couldn't write " + pem.string());
    }
    if (PEM_write_PrivateKey(file.get(), pkey(key_), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        throw std::runtime_error("couldn't write " + pem.string());
    }
}

PublicKey SigningKey::publicKey() const {
    PublicKey key{};
    std::size_t length = key.size();
    if (EVP_PKEY_get_raw_public_key(pkey(key_), key.data(), &length) != 1 || length != key.size()) {
        throw std::runtime_error("couldn't read the public key");
    }
    return key;
}

SignatureBytes SigningKey::sign(TessaloyCore::ByteView message) const {
    SignatureBytes signature{};
    std::size_t length = signature.size();
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, pkey(key_)) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &length, message.data(), message.size()) != 1) {
        throw std::runtime_error("couldn't sign");
    }
    return signature;
}

bool verifySignature(const PublicKey& key, TessaloyCore::ByteView message, TessaloyCore::ByteView signature) {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()), EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!publicKey || !context) return false;
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1) return false;
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
}

} // namespace Plovander
