#include "net/relay/RelayRefusal.h"

#include "connectwire/DataReply.h"

namespace TessaloyNet {

using TessaloyConnectWire::DataReply;

RelayRefusal RelayRefusal::fromReplyByte(std::uint8_t byte) noexcept {
    switch (TessaloyConnectWire::dataReply(byte).value_or(DataReply::connected)) {
        case DataReply::macNotOnline:
            return macNotOnline;
        case DataReply::macDidNotAnswer:
            return macDidNotAnswer;
        case DataReply::badHello:
            return badHello;
        case DataReply::staleHello:
            return staleHello;
        case DataReply::unsupportedVersion:
            return unsupportedVersion;
        case DataReply::busy:
            return busy;
        case DataReply::suspended:
            return suspended;
        case DataReply::connected:
        case DataReply::candidates:
            break;
    }
    return {unknown, byte};
}

std::optional<std::error_code> RelayRefusal::replyError(std::uint8_t byte) noexcept {
    const auto reply = TessaloyConnectWire::dataReply(byte);
    if (!reply) return std::make_error_code(std::errc::connection_refused);
    switch (*reply) {
        case DataReply::connected:
            return std::nullopt;
        case DataReply::macNotOnline:
            return std::error_code(EHOSTDOWN, std::generic_category());
        case DataReply::macDidNotAnswer:
            return std::make_error_code(std::errc::timed_out);
        case DataReply::badHello:
        case DataReply::staleHello:
            return std::make_error_code(std::errc::protocol_error);
        case DataReply::unsupportedVersion:
            return std::make_error_code(std::errc::protocol_not_supported);
        case DataReply::busy:
            return std::make_error_code(std::errc::device_or_resource_busy);
        case DataReply::suspended:
            return std::make_error_code(std::errc::operation_not_permitted);
        case DataReply::candidates:
            break;
    }
    return std::make_error_code(std::errc::connection_refused);
}

std::optional<RelayRefusal> RelayRefusal::fromError(std::error_code error) noexcept {
    if (error.category() != std::generic_category() && error.category() != std::system_category()) return std::nullopt;
    switch (error.value()) {
        case EHOSTDOWN:
            return macNotOnline;
        case ETIMEDOUT:
            return macDidNotAnswer;
        case EPROTO:
            return badHello;
        case EPROTONOSUPPORT:
            return unsupportedVersion;
        case EBUSY:
            return busy;
        case EPERM:
            return suspended;
        default:
            return std::nullopt;
    }
}

const char* RelayRefusal::caseName() const noexcept {
    switch (value_) {
        case macNotOnline:
            return "macNotOnline";
        case macDidNotAnswer:
            return "macDidNotAnswer";
        case badHello:
            return "badHello";
        case staleHello:
            return "staleHello";
        case unsupportedVersion:
            return "unsupportedVersion";
        case busy:
            return "busy";
        case suspended:
            return "suspended";
        case unknown:
            return "unknown";
    }
    return "unknown";
}

std::string RelayRefusal::description() const {
    switch (value_) {
        case macNotOnline:
            return "The computer is not online at the relay.";
        case macDidNotAnswer:
            return "The computer did not answer through the relay.";
        case badHello:
        case staleHello:
            return "The relay did not accept the connection.";
        case unsupportedVersion:
            return "The relay does not support this version.";
        case busy:
            return "The relay is busy.";
        case suspended:
            return "The relay service is suspended.";
        case unknown:
            break;
    }
    return "The relay refused the connection (" + std::to_string(byte_) + ").";
}

} // namespace TessaloyNet
