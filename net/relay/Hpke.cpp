#include "net/relay/Hpke.h"

#include "net/channel/CryptoError.h"

#include <openssl/evp.h>

#include <array>
#include <string_view>

namespace TessaloyNet::Hpke {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

namespace {

constexpr std::uint16_t kemID = 0x0010; // DHKEM(P-256, HKDF-SHA256)
constexpr std::uint16_t kdfID = 0x0001; // HKDF-SHA256
constexpr std::size_t hashBytes = 32;
constexpr std::uint8_t modeBase = 0;

void append(Bytes& bytes, ByteView more) { bytes.insert(bytes.end(), more.begin(), more.end()); }
void append(Bytes& bytes, std::string_view text) { bytes.insert(bytes.end(), text.begin(), text.end()); }
void appendU16(Bytes& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value));
}

Bytes hmacSha256(ByteView key, ByteView message) {
    static const std::uint8_t zero = 0;
    std::array<std::uint8_t, hashBytes> out{};
    std::size_t length = 0;
    char digest[] = "SHA256";
    if (!EVP_Q_mac(nullptr, "HMAC", nullptr, digest, nullptr, key.empty() ? &zero : key.data(), key.size(),
                   message.empty() ? &zero : message.data(), message.size(), out.data(), out.size(), &length) ||
        length != hashBytes) {
        throw CryptoError("HMAC-SHA256 failed");
    }
    return Bytes(out.begin(), out.end());
}

// HKDF (RFC 5869) in its two halves, as HPKE's labelled functions use them.
Bytes extract(ByteView salt, ByteView ikm) {
    const Bytes zeros(hashBytes, 0);
    return hmacSha256(salt.empty() ? ByteView(zeros) : salt, ikm);
}

Bytes expand(ByteView prk, ByteView info, std::size_t length) {
    Bytes out;
    Bytes block;
    for (std::uint8_t counter = 1; out.size() < length; ++counter) {
        Bytes message = block;
        append(message, info);
        message.push_back(counter);
        block = hmacSha256(prk, message);
        append(out, block);
    }
    out.resize(length);
    return out;
}

// RFC 9180, 4: LabeledExtract and LabeledExpand under one suite identifier.
class Labels {
public:
    explicit Labels(Bytes suiteID) : suiteID_(std::move(suiteID)) {}

    Bytes extract(ByteView salt, std::string_view label, ByteView ikm) const {
        Bytes labelled = prefix(label);
        append(labelled, ikm);
        return Hpke::extract(salt, labelled);
    }

    Bytes expand(ByteView prk, std::string_view label, ByteView info, std::size_t length) const {
        Bytes labelled;
        appendU16(labelled, static_cast<std::uint16_t>(length));
        append(labelled, prefix(label));
        append(labelled, info);
        return Hpke::expand(prk, labelled, length);
    }

private:
    Bytes prefix(std::string_view label) const {
        Bytes bytes;
        append(bytes, std::string_view("HPKE-v1"));
        append(bytes, suiteID_);
        append(bytes, label);
        return bytes;
    }

    Bytes suiteID_;
};

Labels kemLabels() {
    Bytes suite;
    append(suite, std::string_view("KEM"));
    appendU16(suite, kemID);
    return Labels(std::move(suite));
}

Labels hpkeLabels(HpkeAead aead) {
    Bytes suite;
    append(suite, std::string_view("HPKE"));
    appendU16(suite, kemID);
    appendU16(suite, kdfID);
    appendU16(suite, static_cast<std::uint16_t>(aead));
    return Labels(std::move(suite));
}

std::size_t keyBytes(HpkeAead aead) { return aead == HpkeAead::aes128Gcm ? 16 : 32; }

// RFC 9180, 4.1: ExtractAndExpand of the DH result with enc || pkRm as context.
Bytes kemSharedSecret(ByteView dh, ByteView encapsulatedKey, ByteView recipientKey) {
    const Labels labels = kemLabels();
    Bytes context(encapsulatedKey.begin(), encapsulatedKey.end());
    append(context, recipientKey);
    const Bytes prk = labels.extract({}, "eae_prk", dh);
    return labels.expand(prk, "shared_secret", context, hashBytes);
}

// RFC 9180, 5.1, base mode: no PSK, no PSK id.
HpkeContext keySchedule(ByteView sharedSecret, ByteView info, HpkeAead aead) {
    const Labels labels = hpkeLabels(aead);
    Bytes context{modeBase};
    append(context, labels.extract({}, "psk_id_hash", {}));
    append(context, labels.extract({}, "info_hash", info));
    const Bytes secret = labels.extract(sharedSecret, "secret", {});
    return HpkeContext(aead, labels.expand(secret, "key", context, keyBytes(aead)),
                       labels.expand(secret, "base_nonce", context, HpkeContext::nonceBytes));
}

} // namespace

Sender setupBaseSender(const P256PublicKey& recipient, ByteView info, HpkeAead aead) {
    return setupBaseSender(recipient, info, aead, P256PrivateKey::generate());
}

Sender setupBaseSender(const P256PublicKey& recipient, ByteView info, HpkeAead aead, const P256PrivateKey& ephemeral) {
    const Bytes& encapsulatedKey = ephemeral.publicKey().x963Representation();
    const Bytes shared =
        kemSharedSecret(ephemeral.sharedSecret(recipient), encapsulatedKey, recipient.x963Representation());
    return Sender{encapsulatedKey, keySchedule(shared, info, aead)};
}

HpkeContext setupBaseReceiver(ByteView encapsulatedKey, const P256PrivateKey& recipient, ByteView info, HpkeAead aead) {
    const P256PublicKey ephemeral = P256PublicKey::fromX963(encapsulatedKey);
    const Bytes shared =
        kemSharedSecret(recipient.sharedSecret(ephemeral), encapsulatedKey, recipient.publicKey().x963Representation());
    return keySchedule(shared, info, aead);
}

} // namespace TessaloyNet::Hpke
