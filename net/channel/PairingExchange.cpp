#include "net/channel/PairingExchange.h"

#include "core/ByteReader.h"
#include "core/ByteWriter.h"
#include "net/channel/P256PublicKey.h"

namespace TessaloyNet {

using TessaloyCore::CodecProblem;

PairingExchange::PairingExchange(TessaloyCore::Bytes publicKey, std::string name)
    : publicKey_(std::move(publicKey)), name_(std::move(name)) {
    if (!P256PublicKey::isValidX963(publicKey_)) throw Error(CodecProblem::invalidValue);
    if (!TessaloyCore::isValidUtf8(name_)) throw Error(CodecProblem::invalidValue);
    if (name_.size() > maximumNameBytes) throw Error(CodecProblem::tooLong);
}

PairingExchange PairingExchange::decode(const TessaloyCore::WirePacket& packet) {
    if (packet.kind() != TessaloyCore::WirePacket::Kind::pairingExchange) throw Error(CodecProblem::wrongKind);
    return TessaloyCore::decodeAs<PairingExchange>([&] {
        TessaloyCore::ByteReader reader(packet.payload());
        const TessaloyCore::ByteView key = reader.fixed(publicKeyBytes);
        if (!P256PublicKey::isValidX963(key)) throw Error(CodecProblem::invalidValue);
        std::string name = reader.text(maximumNameBytes);
        reader.expectEnd();
        return PairingExchange(TessaloyCore::Bytes(key.begin(), key.end()), std::move(name));
    });
}

TessaloyCore::WirePacket PairingExchange::packet() const {
    TessaloyCore::ByteWriter writer(publicKeyBytes + 4 + name_.size());
    writer.fixed(publicKey_);
    if (!writer.text(name_, maximumNameBytes)) throw Error(CodecProblem::tooLong);
    return TessaloyCore::WirePacket(TessaloyCore::WirePacket::Kind::pairingExchange, writer.take());
}

} // namespace TessaloyNet
