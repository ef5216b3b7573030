#include "core/WireDecoder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace TessaloyCore {
namespace {

// A header that passes every check and declares the smallest length: a partial header padded with
// its remaining bytes fails parseHeader exactly when no completion of it could pass, and with the
// error every completion would get, since each check reads only its own bytes, in byte order.
const std::array<std::uint8_t, WirePacket::headerSize>& smallestGoodHeader() {
    static const auto header = WirePacket(WirePacket::Kind::videoConfiguration, {}).header();
    return header;
}

} // namespace

void WireDecoder::feed(ByteView bytes, const OnPacket& onPacket) {
    rethrowIfFailed();
    while (!bytes.empty()) {
        if (!current_) {
            const std::size_t count = std::min(WirePacket::headerSize - headerFilled_, bytes.size());
            std::memcpy(header_.data() + headerFilled_, bytes.data(), count);
            headerFilled_ += count;
            bytes = bytes.subspan(count);
            headerBytesArrived();
        } else {
            const std::size_t count = std::min(current_->payloadLength - payloadFilled_, bytes.size());
            appendPayload(bytes.first(count));
            bytes = bytes.subspan(count);
        }
        if (auto packet = takeCompletedPacket()) onPacket(std::move(*packet));
    }
}

std::span<std::uint8_t> WireDecoder::writableSpace() {
    rethrowIfFailed();
    if (!current_) return std::span(header_).subspan(headerFilled_);
    if (payload_.size() == payloadFilled_) {
        payload_.resize(std::min<std::size_t>(current_->payloadLength, payloadFilled_ + maximumWritableSpace));
    }
    return std::span(payload_).subspan(payloadFilled_);
}

std::optional<WirePacket> WireDecoder::commit(std::size_t count) {
    rethrowIfFailed();
    if (!current_) {
        if (count > WirePacket::headerSize - headerFilled_) throw std::out_of_range("commit beyond the header");
        headerFilled_ += count;
        headerBytesArrived();
    } else {
        if (count > payload_.size() - payloadFilled_) throw std::out_of_range("commit beyond the space handed out");
        payloadFilled_ += count;
    }
    return takeCompletedPacket();
}

void WireDecoder::rethrowIfFailed() const {
    if (failure_) throw *failure_;
}

void WireDecoder::headerBytesArrived() {
    try {
        if (headerFilled_ < WirePacket::headerSize) {
            auto padded = smallestGoodHeader();
            std::copy_n(header_.begin(), headerFilled_, padded.begin());
            WirePacket::parseHeader(padded);
            return;
        }
        current_ = WirePacket::parseHeader(header_);
    } catch (const WireError& error) {
        fail(error);
    }
    payload_ = Bytes();
    payload_.reserve(current_->payloadLength);
    payloadFilled_ = 0;
}

void WireDecoder::fail(const WireError& error) {
    failure_ = error;
    current_.reset();
    payload_ = Bytes();
    throw error;
}

void WireDecoder::appendPayload(ByteView bytes) {
    // First into what is left of a space handed out, then past the end: the capacity was reserved
    // from the header, so that is one copy, with no reallocation and no zero-filling.
    const std::size_t intoSpace = std::min(bytes.size(), payload_.size() - payloadFilled_);
    if (intoSpace > 0) std::memcpy(payload_.data() + payloadFilled_, bytes.data(), intoSpace);
    payload_.insert(payload_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(intoSpace), bytes.end());
    payloadFilled_ += bytes.size();
}

std::optional<WirePacket> WireDecoder::takeCompletedPacket() {
    if (!current_ || payloadFilled_ != current_->payloadLength) return std::nullopt;
    const WirePacket::Kind kind = current_->kind;
    current_.reset();
    headerFilled_ = 0;
    payloadFilled_ = 0;
    return WirePacket(kind, std::exchange(payload_, Bytes()));
}

} // namespace TessaloyCore
