#pragma once

#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"
#include "core/WirePacket.h"
#include "media/VideoDecoder.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairingCode.h"
#include "net/channel/PairingKeys.h"
#include "net/channel/TlsPacketChannel.h"

#include <asio/ip/tcp.hpp>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Bench {

// The device's end of a stream: decodes every frame as its packet arrives, on the channel's queue,
// and times it against the start of its grab (the same process, so the same clock).
class DecodingDevice {
public:
    using Clock = std::chrono::steady_clock;

    // For the device's channel: `ready` and `closed` are kept as the channel says.
    TessaloyNet::PacketChannel::Events events(std::shared_ptr<std::promise<void>> ready,
                                              std::shared_ptr<std::promise<void>> closed) {
        return {.ready = [ready] { ready->set_value(); },
                .packet = [this](const TessaloyCore::WirePacket& packet) { take(packet); },
                .closed = [closed](const std::optional<std::string>&) { closed->set_value(); }};
    }
    void setFirstGrab(Clock::time_point first) {
        std::lock_guard guard(lock_);
        firstGrab_ = first;
    }
    // Samples from now on only.
    void startCounting() {
        std::lock_guard guard(lock_);
        counting_ = true;
    }
    void stopCounting() {
        std::lock_guard guard(lock_);
        counting_ = false;
    }

    // In seconds, per frame decoded while counting.
    struct Samples {
        // Grab start to the decoded picture.
        std::vector<double> latency;
        // Grab start to the frame's packet read by the device's channel.
        std::vector<double> arrival;
        // The decoding of one frame, picture conversion included.
        std::vector<double> decode;
        std::size_t failures = 0;
    };
    Samples samples() const {
        std::lock_guard guard(lock_);
        return samples_;
    }

private:
    void take(const TessaloyCore::WirePacket& packet) {
        using Kind = TessaloyCore::WirePacket::Kind;
        const auto arrived = Clock::now();
        std::lock_guard guard(lock_);
        try {
            if (packet.kind() == Kind::videoConfiguration) {
                decoder_.configure(TessaloyCore::VideoConfiguration::decode(packet));
                return;
            }
            if (packet.kind() != Kind::videoFrame) return;
            const auto frame = TessaloyCore::VideoFrame::decode(packet);
            const auto pictures = decoder_.decode(frame);
            const auto decoded = Clock::now();
            if (!firstGrab_ || !counting_ || pictures.empty()) return;
            const Clock::time_point grabbed =
                *firstGrab_ + std::chrono::microseconds(pictures.back().presentationMicroseconds);
            samples_.latency.push_back(std::chrono::duration<double>(decoded - grabbed).count());
            samples_.arrival.push_back(std::chrono::duration<double>(arrived - grabbed).count());
            samples_.decode.push_back(std::chrono::duration<double>(decoded - arrived).count());
        } catch (const std::exception&) {
            ++samples_.failures;
        }
    }

    mutable std::mutex lock_;
    TessaloyMedia::VideoDecoder decoder_{TessaloyMedia::VideoDecoder::PixelLayout::rgb};
    std::optional<Clock::time_point> firstGrab_;
    bool counting_ = false;
    Samples samples_;
};

// The Mac's media channel and a DecodingDevice's, over loopback TLS 1.3 with pairing identities,
// both ready once built; both close on destruction.
class LoopbackChannels {
public:
    // Makes the device's channel to the Mac's listening port.
    using Dial = std::function<std::shared_ptr<TessaloyNet::TlsPacketChannel>(const asio::ip::tcp::endpoint& mac,
                                                                              const TessaloyNet::TlsParameters&)>;

    // The device dials the port of `listener` with `dial`, directly when none is given, and the
    // Mac takes the next connection that `listener` accepts.
    LoopbackChannels(asio::ip::tcp::acceptor& listener, DecodingDevice& device, const Dial& dial = {}) {
        auto deviceReady = std::make_shared<std::promise<void>>();
        auto macReady = std::make_shared<std::promise<void>>();
        const auto parameters = TessaloyNet::LANTransport::pairingClientParameters(keys(), "Phone");
        deviceChannel = dial ? dial(listener.local_endpoint(), parameters)
                             : TessaloyNet::TlsPacketChannel::connecting(listener.local_endpoint(), parameters);
        deviceChannel->setEvents(device.events(deviceReady, deviceClosed_));
        deviceChannel->start();
        macChannel = TessaloyNet::TlsPacketChannel::accepted(
            listener.accept(), TessaloyNet::LANTransport::pairingServerParameters(keys(), "Mac", nullptr));
        macChannel->setEvents({.ready = [macReady] { macReady->set_value(); }, .packet = nullptr, .closed = nullptr});
        macChannel->start();
        deviceReady->get_future().wait();
        macReady->get_future().wait();
    }
    // Returns once the device's channel has closed: it delivers nothing to the device afterwards.
    ~LoopbackChannels() {
        macChannel->close();
        deviceChannel->close();
        deviceClosed_->get_future().wait_for(std::chrono::seconds(10));
    }
    LoopbackChannels(const LoopbackChannels&) = delete;
    LoopbackChannels& operator=(const LoopbackChannels&) = delete;

    std::shared_ptr<TessaloyNet::TlsPacketChannel> deviceChannel;
    std::shared_ptr<TessaloyNet::TlsPacketChannel> macChannel;

private:
    std::shared_ptr<std::promise<void>> deviceClosed_ = std::make_shared<std::promise<void>>();

    static const TessaloyNet::PairingKeys& keys() {
        static const TessaloyCore::Bytes salt(16, 0x42);
        static const TessaloyNet::PairingKeys derived =
            TessaloyNet::PairingKeys::derive(*TessaloyNet::PairingCode::parse("ABCD-EFGH"), salt);
        return derived;
    }
};

} // namespace Bench
