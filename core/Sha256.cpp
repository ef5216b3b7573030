#include "core/Sha256.h"

#include <openssl/evp.h>

#include <new>

namespace TessaloyCore {

struct Sha256::Context {
    EVP_MD_CTX* ctx;

    Context() : ctx(EVP_MD_CTX_new()) {
        if (!ctx || EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
    }
    Context(const Context& other) : ctx(EVP_MD_CTX_new()) {
        if (!ctx || EVP_MD_CTX_copy_ex(ctx, other.ctx) != 1) throw std::bad_alloc();
    }
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {}
Sha256::Sha256(const Sha256& other) : context_(std::make_unique<Context>(*other.context_)) {}
Sha256& Sha256::operator=(const Sha256& other) {
    if (this != &other) context_ = std::make_unique<Context>(*other.context_);
    return *this;
}
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;
Sha256::~Sha256() = default;

void Sha256::update(ByteView bytes) {
    if (!bytes.empty()) EVP_DigestUpdate(context_->ctx, bytes.data(), bytes.size());
}

Sha256::Digest Sha256::digest() const {
    Context finishing(*context_);
    Digest result{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(finishing.ctx, result.data(), &length);
    return result;
}

Sha256::Digest Sha256::of(ByteView bytes) {
    Sha256 hash;
    hash.update(bytes);
    return hash.digest();
}

} // namespace TessaloyCore
