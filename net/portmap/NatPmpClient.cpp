#include "net/portmap/NatPmpClient.h"

namespace TessaloyNet {
namespace {

using TessaloyCore::Bytes;

constexpr std::uint8_t version = 0;
constexpr std::uint8_t opcodeAddress = 0;
constexpr std::uint8_t opcodeMapTcp = 2;
constexpr std::uint8_t replyFlag = 128;

std::uint32_t readBigEndian(const Bytes& bytes, std::size_t offset, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = (value << 8) | bytes[offset + i];
    return value;
}

void writeBigEndian(Bytes& bytes, std::uint32_t value, std::size_t size) {
    for (std::size_t i = size; i-- > 0;) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A reply of at least `size` bytes to `opcode` with result 0; longer replies are fine.
bool isSuccess(const std::optional<Bytes>& reply, std::uint8_t opcode, std::size_t size) {
    return reply && reply->size() >= size && (*reply)[0] == version && (*reply)[1] == (opcode | replyFlag) &&
           readBigEndian(*reply, 2, 2) == 0;
}

} // namespace

NatPmpClient::NatPmpClient(std::uint16_t internalPort, DatagramExchange& exchange)
    : internalPort_(internalPort), exchange_(exchange) {}

Bytes NatPmpClient::mapRequest(std::uint16_t internalPort, std::uint16_t suggestedExternalPort,
                               std::uint32_t lifetime) {
    Bytes request{version, opcodeMapTcp, 0, 0};
    writeBigEndian(request, internalPort, 2);
    writeBigEndian(request, suggestedExternalPort, 2);
    writeBigEndian(request, lifetime, 4);
    return request;
}

std::optional<NatPmpClient::Grant> NatPmpClient::request(const std::string& host, std::uint16_t port) {
    const auto address = exchange_.send(Bytes{version, opcodeAddress}, host, port, 3);
    if (!isSuccess(address, opcodeAddress, 12)) return std::nullopt;
    const std::string publicAddress = std::to_string((*address)[8]) + "." + std::to_string((*address)[9]) + "." +
                                      std::to_string((*address)[10]) + "." + std::to_string((*address)[11]);

    const auto mapped = exchange_.send(mapRequest(internalPort_, internalPort_, requestedLifetime), host, port, 3);
    if (!isSuccess(mapped, opcodeMapTcp, 16)) return std::nullopt;
    const auto externalPort = static_cast<std::uint16_t>(readBigEndian(*mapped, 10, 2));
    const std::uint32_t lifetime = readBigEndian(*mapped, 12, 4);
    if (lifetime == 0) return std::nullopt;
    return Grant{PortMapping{publicAddress, externalPort, "NAT-PMP"},
                 PortLease{PortLease::NatPmp{host, port}, externalPort}, lifetime};
}

void NatPmpClient::release(const PortLease::NatPmp& endpoint) {
    (void)exchange_.send(mapRequest(internalPort_, 0, 0), endpoint.host, endpoint.port, 1);
}

} // namespace TessaloyNet
