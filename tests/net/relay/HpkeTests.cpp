#include "core/Encoding.h"
#include "net/channel/CryptoError.h"
#include "net/relay/Hpke.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

using namespace TessaloyNet;
using TessaloyCore::Bytes;

Bytes hex(std::string_view text) {
    Bytes bytes;
    for (std::size_t index = 0; index + 1 < text.size(); index += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(index, 2)), nullptr, 16)));
    }
    return bytes;
}

// RFC 9180, A.3.1: DHKEM(P-256, HKDF-SHA256), HKDF-SHA256, AES-128-GCM, base mode, sequence 0.
const Bytes info = hex("4f6465206f6e2061204772656369616e2055726e");
const Bytes skEm = hex("4995788ef4b9d6132b249ce59a77281493eb39af373d236a1fe415cb0c2d7beb");
const Bytes pkEm = hex(
    "04a92719c6195d5085104f469a8b9814d5838ff72b60501e2c4466e5e67b325ac98536d7b61a1af4b78e5b7f951c0900be863c403ce65c9b"
    "fcb9382657222d18c4");
const Bytes pkRm = hex(
    "04fe8c19ce0905191ebc298a9245792531f26f0cece2460639e8bc39cb7f706a826a779b4cf969b8a0e539c7f62fb3d30ad6aa8f80e30f1d"
    "128aafd68a2ce72ea0");
const Bytes skRm = hex("f3ce7fdae57e1a310d87f1ebbde6f328be0a99cdbcadf4d6589cf29de4b8ffd2");
const Bytes pt = hex("4265617574792069732074727574682c20747275746820626561757479");
const Bytes aad = hex("436f756e742d30");
const Bytes ct = hex("5ad590bb8baa577f8619db35a36311226a896e7342a6d836d8b7bcd2f20b6c7f9076ac232e3ab2523f39513434");

TEST(Hpke, MatchesTheRfcVectorByteForByte) {
    const auto recipient = P256PublicKey::fromX963(pkRm);
    Hpke::Sender sender =
        Hpke::setupBaseSender(recipient, info, HpkeAead::aes128Gcm, P256PrivateKey::fromRawRepresentation(skEm));
    EXPECT_EQ(sender.encapsulatedKey, pkEm);
    EXPECT_EQ(sender.context.seal(aad, pt), ct);

    HpkeContext receiver =
        Hpke::setupBaseReceiver(pkEm, P256PrivateKey::fromRawRepresentation(skRm), info, HpkeAead::aes128Gcm);
    EXPECT_EQ(receiver.open(aad, ct), pt);
}

TEST(Hpke, RefusesWhatWasNotSealedForIt) {
    const auto recipient = P256PrivateKey::generate();
    Hpke::Sender sender = Hpke::setupBaseSender(recipient.publicKey(), info, HpkeAead::aes256Gcm);
    const Bytes sealed = sender.context.seal({}, pt);
    Bytes flipped = sealed;
    flipped[3] ^= 1;
    const struct {
        Bytes info;
        Bytes ciphertext;
        HpkeAead aead;
    } rows[] = {{info, flipped, HpkeAead::aes256Gcm},
                {Bytes{1}, sealed, HpkeAead::aes256Gcm},
                {info, sealed, HpkeAead::aes128Gcm},
                {info, Bytes(15, 0), HpkeAead::aes256Gcm}};
    for (const auto& row : rows) {
        HpkeContext receiver = Hpke::setupBaseReceiver(sender.encapsulatedKey, recipient, row.info, row.aead);
        EXPECT_THROW(receiver.open({}, row.ciphertext), CryptoError);
    }
    Bytes offCurve = sender.encapsulatedKey;
    offCurve[64] ^= 1;
    EXPECT_THROW(Hpke::setupBaseReceiver(offCurve, recipient, info, HpkeAead::aes256Gcm), CryptoError);
}

// An independent opener: HPKE base mode written from the RFC on python3-cryptography's primitives.
constexpr std::string_view pythonOpener = R"(
import sys
from cryptography.hazmat.primitives import hashes, hmac, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
sk, enc, info, ct = (bytes.fromhex(a) for a in sys.argv[1:5])
def mac(k, m):
    h = hmac.HMAC(k or bytes(32), hashes.SHA256()); h.update(m); return h.finalize()
def lx(suite, salt, label, ikm): return mac(salt, b"HPKE-v1" + suite + label + ikm)
def le(suite, prk, label, info, n):
    msg, t, out, i = n.to_bytes(2, "big") + b"HPKE-v1" + suite + label + info, b"", b"", 1
    while len(out) < n: t = mac(prk, t + msg + bytes([i])); out += t; i += 1
    return out[:n]
key = ec.derive_private_key(int.from_bytes(sk, "big"), ec.SECP256R1())
pkE = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), enc)
dh = key.exchange(ec.ECDH(), pkE)
pkR = key.public_key().public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
kem = b"KEM\x00\x10"
shared = le(kem, lx(kem, b"", b"eae_prk", dh), b"shared_secret", enc + pkR, 32)
suite = b"HPKE\x00\x10\x00\x01\x00\x02"
ctx = b"\x00" + lx(suite, b"", b"psk_id_hash", b"") + lx(suite, b"", b"info_hash", info)
secret = lx(suite, shared, b"secret", b"")
k, nonce = le(suite, secret, b"key", ctx, 32), le(suite, secret, b"base_nonce", ctx, 12)
print(AESGCM(k).decrypt(nonce, ct, b"").hex())
)";

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    std::array<char, 512> chunk{};
    while (std::fgets(chunk.data(), chunk.size(), pipe)) output += chunk.data();
    pclose(pipe);
    return output;
}

TEST(Hpke, Aes256SealOpensInAnIndependentImplementation) {
    const auto recipient = P256PrivateKey::generate();
    Hpke::Sender sender = Hpke::setupBaseSender(recipient.publicKey(), info, HpkeAead::aes256Gcm);
    const Bytes sealed = sender.context.seal({}, pt);
    const std::string script = testing::TempDir() + "hpke_open.py";
    std::FILE* file = std::fopen(script.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fwrite(pythonOpener.data(), 1, pythonOpener.size(), file);
    std::fclose(file);
    const std::string opened = run("python3 " + script + " " + TessaloyCore::hexString(recipient.rawRepresentation()) +
                                   " " + TessaloyCore::hexString(sender.encapsulatedKey) + " " +
                                   TessaloyCore::hexString(info) + " " + TessaloyCore::hexString(sealed));
    EXPECT_EQ(opened, TessaloyCore::hexString(pt) + "\n");
}

} // namespace
