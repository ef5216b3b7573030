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
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Bench {

// The device's end of a stream: decodes every frame as its packet arrives, on the channel's queue,
// and times it against the start of its grab (the steady clock, which another process of this
// machine shares).
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

    // One picture decoded while counting: its presentation time and when its packet arrived and
    // its decoding ended.
    struct Decoded {
        std::uint64_t presentationMicroseconds = 0;
        Clock::time_point arrived;
        Clock::time_point decoded;
    };
    std::vector<Decoded> decoded() const {
        std::lock_guard guard(lock_);
        return decoded_;
    }
    std::size_t failures() const {
        std::lock_guard guard(lock_);
        return failures_;
    }

    // In seconds, per frame decoded while counting, timed against the first grab.
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
        Samples samples;
        samples.failures = failures_;
        if (!firstGrab_) return samples;
        const auto seconds = [](Clock::duration duration) { return std::chrono::duration<double>(duration).count(); };
        for (const Decoded& picture : decoded_) {
            const Clock::time_point grabbed = *firstGrab_ + std::chrono::microseconds(picture.presentationMicroseconds);
            samples.latency.push_back(seconds(picture.decoded - grabbed));
            samples.arrival.push_back(seconds(picture.arrived - grabbed));
            samples.decode.push_back(seconds(picture.decoded - picture.arrived));
        }
        return samples;
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
            if (!counting_ || pictures.empty()) return;
            decoded_.push_back({pictures.back().presentationMicroseconds, arrived, Clock::now()});
        } catch (const std::exception&) {
            ++failures_;
        }
    }

    mutable std::mutex lock_;
    TessaloyMedia::VideoDecoder decoder_{TessaloyMedia::VideoDecoder::PixelLayout::rgb};
    std::optional<Clock::time_point> firstGrab_;
    bool counting_ = false;
    std::vector<Decoded> decoded_;
    std::size_t failures_ = 0;
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
        const auto parameters = TessaloyNet::LANTransport::pairingClientParameters(keys(), "Phone");
        deviceChannel = dial ? dial(listener.local_endpoint(), parameters)
                             : TessaloyNet::TlsPacketChannel::connecting(listener.local_endpoint(), parameters);
        deviceChannel->setEvents(device.events(deviceReady, deviceClosed_));
        deviceChannel->start();
        macChannel = acceptMac(listener);
        deviceReady->get_future().wait();
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

    // The Mac's channel for the next device that `listener` accepts, once ready.
    static std::shared_ptr<TessaloyNet::TlsPacketChannel> acceptMac(asio::ip::tcp::acceptor& listener) {
        auto ready = std::make_shared<std::promise<void>>();
        auto channel = TessaloyNet::TlsPacketChannel::accepted(
            listener.accept(), TessaloyNet::LANTransport::pairingServerParameters(keys(), "Mac", nullptr));
        channel->setEvents({.ready = [ready] { ready->set_value(); }, .packet = nullptr, .closed = nullptr});
        channel->start();
        ready->get_future().wait();
        return channel;
    }

    // The pairing keys of both ends.
    static const TessaloyNet::PairingKeys& keys() {
        static const TessaloyCore::Bytes salt(16, 0x42);
        static const TessaloyNet::PairingKeys derived =
            TessaloyNet::PairingKeys::derive(*TessaloyNet::PairingCode::parse("ABCD-EFGH"), salt);
        return derived;
    }

private:
    std::shared_ptr<std::promise<void>> deviceClosed_ = std::make_shared<std::promise<void>>();
};

} // namespace Bench
