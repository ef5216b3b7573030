#include "tests/support/TestRelay.h"

#include "connectwire/CandidateList.h"
#include "connectwire/ConnectProtocol.h"
#include "connectwire/ConnectWireError.h"
#include "connectwire/DataReply.h"
#include "connectwire/SealedHello.h"
#include "net/channel/RandomBytes.h"
#include "net/channel/TlsIdentity.h"
#include "net/relay/Hpke.h"

#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <map>
#include <set>

namespace Testing {

using namespace TessaloyConnectWire;
using asio::ip::tcp;
using TessaloyCore::Bytes;

namespace {

struct Control : std::enable_shared_from_this<Control> {
    Control(tcp::socket socket, asio::ssl::context& context) : stream(std::move(socket), context) {}
    asio::ssl::stream<tcp::socket> stream;
    std::array<std::uint8_t, 4096> space{};
    Bytes buffer;
    std::vector<Bytes> meetingIDs;
    std::vector<std::string> candidates;
    bool open = true;
    bool ready = false;

    std::deque<Bytes> outbox;

    // One TLS write at a time.
    void write(Bytes bytes) {
        outbox.push_back(std::move(bytes));
        if (outbox.size() == 1) writeNext();
    }
    void writeNext() {
        asio::async_write(stream, asio::buffer(outbox.front()),
                          [self = shared_from_this()](std::error_code error, std::size_t) {
                              self->outbox.pop_front();
                              if (!error && !self->outbox.empty()) self->writeNext();
                          });
    }
    void close() {
        open = false;
        std::error_code ignored;
        stream.lowest_layer().close(ignored);
    }
};

struct Data {
    explicit Data(tcp::socket accepted) : socket(std::move(accepted)) {}
    tcp::socket socket;
    std::array<std::uint8_t, 64 * 1024> space{};
    Bytes buffer;
    void close() {
        std::error_code ignored;
        socket.close(ignored);
    }
};

} // namespace

struct TestRelay::State : std::enable_shared_from_this<State> {
    State()
        : helloKey(TessaloyNet::P256PrivateKey::generate()),
          identity(TessaloyNet::P256PrivateKey::generate(), "relay"),
          tls(asio::ssl::context::tls_server),
          acceptor(queue.executor()) {
        identity.install(tls.native_handle());
        SSL_CTX_set_min_proto_version(tls.native_handle(), TLS1_3_VERSION);
    }

    TessaloyBase::SerialQueue queue{"test-relay"};
    TessaloyNet::P256PrivateKey helloKey;
    TessaloyNet::TlsIdentity identity;
    asio::ssl::context tls;
    tcp::acceptor acceptor;
    std::uint16_t port = 0;
    bool held = false;
    bool handshakesHeld = false;
    // Control connections whose TLS handshake waits for the hold to end.
    std::vector<std::shared_ptr<Control>> unshaken;
    std::vector<std::shared_ptr<Control>> controls;
    std::vector<std::shared_ptr<Data>> datas;
    // Phone calls waiting for the Mac's data connection, by session identifier.
    std::map<Bytes, std::shared_ptr<Data>, TessaloyCore::BytesOrder> waiting;
    // The flood: its calls not yet taken up by the Mac, and its pace.
    std::set<Bytes, TessaloyCore::BytesOrder> floodCalls;
    std::shared_ptr<asio::steady_timer> floodTimer;
    std::chrono::steady_clock::time_point floodStart;
    double callsPerSecond = 0;
    std::size_t callsSent = 0;

    mutable std::mutex mutex;
    std::condition_variable changed;
    Heard heard;

    template <typename Change>
    void note(Change&& change) {
        {
            const std::lock_guard lock(mutex);
            change(heard);
        }
        changed.notify_all();
    }

    void listen() {
        const tcp::endpoint at(asio::ip::address_v4::loopback(), port);
        acceptor.open(at.protocol());
        acceptor.set_option(tcp::acceptor::reuse_address(true));
        acceptor.bind(at);
        acceptor.listen();
        port = acceptor.local_endpoint().port();
        accept();
    }

    void accept() {
        acceptor.async_accept([self = shared_from_this()](std::error_code error, tcp::socket socket) {
            if (error) return;
            // Spliced bytes go on at once: Nagle's wait for an acknowledgement, against the peer's
            // delayed one, would hold the end of a video frame for tens of milliseconds.
            std::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            self->sort(std::make_shared<tcp::socket>(std::move(socket)));
            self->accept();
        });
    }

    // A TLS record starts with 0x16; a data connection with the sealed hello's magic.
    void sort(std::shared_ptr<tcp::socket> socket) {
        auto first = std::make_shared<std::uint8_t>(0);
        socket->async_receive(asio::buffer(first.get(), 1), tcp::socket::message_peek,
                              [self = shared_from_this(), socket, first](std::error_code error, std::size_t) {
                                  if (error) return;
                                  if (*first == 0x16) return self->serveControl(std::move(*socket));
                                  auto data = std::make_shared<Data>(std::move(*socket));
                                  self->datas.push_back(data);
                                  self->readHello(data);
                              });
    }

    void serveControl(tcp::socket socket) {
        auto control = std::make_shared<Control>(std::move(socket), tls);
        controls.push_back(control);
        note([](Heard& h) { ++h.controlConnections; });
        if (handshakesHeld) return unshaken.push_back(control);
        shake(control);
    }

    void shake(const std::shared_ptr<Control>& control) {
        control->stream.async_handshake(asio::ssl::stream_base::server,
                                        [self = shared_from_this(), control](std::error_code error) {
                                            if (error) return control->close();
                                            control->ready = true;
                                            self->readControl(control);
                                        });
    }

    void readControl(const std::shared_ptr<Control>& control) {
        control->stream.async_read_some(asio::buffer(control->space), [self = shared_from_this(), control](
                                                                          std::error_code error, std::size_t count) {
            if (error) return control->close();
            control->buffer.insert(control->buffer.end(), control->space.begin(), control->space.begin() + count);
            try {
                while (auto frame = ControlMessage::decode(control->buffer)) {
                    control->buffer.erase(control->buffer.begin(),
                                          control->buffer.begin() + static_cast<std::ptrdiff_t>(frame->length));
                    self->handle(*control, frame->value);
                }
            } catch (const ConnectWireError&) {
                return control->close();
            }
            self->readControl(control);
        });
    }

    void handle(Control& control, const ControlMessage& message) {
        if (const auto* registration = message.as<ControlMessage::Register>())
            control.meetingIDs = registration->meetingIDs;
        if (const auto* list = message.as<ControlMessage::Candidates>()) control.candidates = list->candidates;
        if (message.as<ControlMessage::Ping>()) control.write(ControlMessage(ControlMessage::Pong{}).encoded());
        note([&](Heard& h) { h.controlMessages.push_back(message); });
    }

    std::shared_ptr<Control> macFor(const Bytes& meetingID) {
        for (auto& control : controls) {
            if (!control->open) continue;
            for (const Bytes& id : control->meetingIDs) {
                if (id == meetingID) return control;
            }
        }
        return nullptr;
    }

    void readHello(const std::shared_ptr<Data>& data) {
        data->socket.async_read_some(
            asio::buffer(data->space), [self = shared_from_this(), data](std::error_code error, std::size_t count) {
                if (error) return data->close();
                data->buffer.insert(data->buffer.end(), data->space.begin(), data->space.begin() + count);
                std::optional<Decoded<SealedHello>> sealed;
                try {
                    sealed = SealedHello::parse(data->buffer);
                } catch (const ConnectWireError&) {
                    return self->reply(data, {static_cast<std::uint8_t>(DataReply::badHello)});
                }
                if (!sealed) return self->readHello(data);
                data->buffer.erase(data->buffer.begin(),
                                   data->buffer.begin() + static_cast<std::ptrdiff_t>(sealed->length));
                self->answer(data, sealed->value);
            });
    }

    void answer(const std::shared_ptr<Data>& data, const SealedHello& sealed) {
        DataHello hello;
        try {
            auto opener = TessaloyNet::Hpke::setupBaseReceiver(
                sealed.encapsulatedKey, helloKey, ConnectProtocol::helloInfo, TessaloyNet::HpkeAead::aes256Gcm);
            hello = DataHello::decode(opener.open({}, sealed.ciphertext));
        } catch (const std::exception&) {
            return reply(data, {static_cast<std::uint8_t>(DataReply::badHello)});
        }
        note([&](Heard& h) { h.hellos.push_back(hello); });
        if (held) return;
        const auto nowMillis =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        const double age = std::abs(static_cast<double>(nowMillis) - static_cast<double>(hello.sentAtMillis)) / 1000;
        if (age > ConnectProtocol::helloFreshness.count()) {
            return reply(data, {static_cast<std::uint8_t>(DataReply::staleHello)});
        }
        if (hello.role == ConnectRole::mac) {
            // Kept open among `datas`, never answered.
            if (floodCalls.erase(hello.id) > 0) return note([](Heard& h) { ++h.floodAnswers; });
            const auto call = waiting.find(hello.id);
            if (call == waiting.end()) return reply(data, {static_cast<std::uint8_t>(DataReply::badHello)});
            const auto phone = call->second;
            waiting.erase(call);
            return join(phone, data);
        }
        const auto mac = macFor(hello.id);
        if (!mac) return reply(data, {static_cast<std::uint8_t>(DataReply::macNotOnline)});
        if (hello.channel == ConnectChannel::lookup) {
            Bytes answer{static_cast<std::uint8_t>(DataReply::candidates)};
            const Bytes list = CandidateList::encoded(mac->candidates);
            answer.insert(answer.end(), list.begin(), list.end());
            return reply(data, std::move(answer));
        }
        const Bytes sessionID = TessaloyNet::randomBytes(ConnectProtocol::sessionIDBytes);
        waiting[sessionID] = data;
        mac->write(ControlMessage(ControlMessage::Incoming{sessionID, hello.id, hello.channel}).encoded());
    }

    // Every tick sends the calls due since the flood began, so a late tick catches up.
    void floodTick() {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - floodStart;
        const auto due = static_cast<std::size_t>(elapsed.count() * callsPerSecond);
        for (; callsSent < due; ++callsSent) {
            for (const auto& control : controls) {
                if (!control->open || !control->ready || control->meetingIDs.empty()) continue;
                Bytes sessionID = TessaloyNet::randomBytes(ConnectProtocol::sessionIDBytes);
                floodCalls.insert(sessionID);
                control->write(ControlMessage(ControlMessage::Incoming{std::move(sessionID), control->meetingIDs[0],
                                                                       ConnectChannel::media})
                                   .encoded());
            }
        }
        note([&](Heard& h) { h.floodCalls = callsSent; });
        floodTimer->expires_after(std::chrono::milliseconds(5));
        floodTimer->async_wait([self = shared_from_this(), timer = floodTimer](std::error_code error) {
            if (!error && timer == self->floodTimer) self->floodTick();
        });
    }

    void reply(const std::shared_ptr<Data>& data, Bytes bytes) {
        auto shared = std::make_shared<Bytes>(std::move(bytes));
        asio::async_write(data->socket, asio::buffer(*shared), [data, shared](std::error_code, std::size_t) {
            std::error_code ignored;
            data->socket.shutdown(tcp::socket::shutdown_send, ignored);
        });
    }

    void join(const std::shared_ptr<Data>& phone, const std::shared_ptr<Data>& mac) {
        note([](Heard& h) { ++h.splices; });
        for (const auto& [from, to] : {std::pair{phone, mac}, std::pair{mac, phone}}) {
            // Bytes that came after the hello belong to the peer.
            auto early = std::make_shared<Bytes>(1 + to->buffer.size());
            early->front() = static_cast<std::uint8_t>(DataReply::connected);
            std::copy(to->buffer.begin(), to->buffer.end(), early->begin() + 1);
            to->buffer.clear();
            // The copy into `from` starts once the reply is out, so nothing overtakes it.
            asio::async_write(from->socket, asio::buffer(*early),
                              [self = shared_from_this(), early, from, to](std::error_code error, std::size_t) {
                                  if (error) return from->close(), to->close();
                                  self->pump(to, from);
                              });
        }
    }

    void pump(const std::shared_ptr<Data>& from, const std::shared_ptr<Data>& to) {
        from->socket.async_read_some(asio::buffer(from->space),
                                     [self = shared_from_this(), from, to](std::error_code error, std::size_t count) {
                                         if (error) return from->close(), to->close();
                                         asio::async_write(to->socket, asio::buffer(from->space.data(), count),
                                                           [self, from, to](std::error_code failure, std::size_t) {
                                                               if (failure) return from->close(), to->close();
                                                               self->pump(from, to);
                                                           });
                                     });
    }

    void stopFlooding() {
        if (floodTimer) floodTimer->cancel();
        floodTimer.reset();
    }

    void closeAll() {
        stopFlooding();
        std::error_code ignored;
        acceptor.close(ignored);
        for (auto& control : controls) control->close();
        for (auto& data : datas) data->close();
        controls.clear();
        datas.clear();
        waiting.clear();
        unshaken.clear();
    }
};

TestRelay::TestRelay() : state_(std::make_shared<State>()) {
    state_->queue.sync([&] { state_->listen(); });
}

TestRelay::~TestRelay() {
    state_->queue.sync([&] { state_->closeAll(); });
}

TessaloyNet::RelayEndpoint TestRelay::endpoint() const {
    return {"127.0.0.1", state_->queue.sync([&] { return state_->port; }),
            state_->helloKey.publicKey().x963Representation(),
            state_->identity.privateKey.publicKey().x963Representation()};
}

void TestRelay::stop() {
    state_->queue.sync([&] { state_->closeAll(); });
}

void TestRelay::start() {
    state_->queue.sync([&] {
        state_->acceptor = tcp::acceptor(state_->queue.executor());
        state_->listen();
    });
}

void TestRelay::sendOnControl(Bytes bytes) {
    state_->queue.sync([&] {
        for (auto& control : state_->controls) {
            if (control->open && control->ready) control->write(bytes);
        }
    });
}

void TestRelay::holdHandshakes(bool held) {
    state_->queue.sync([&] {
        state_->handshakesHeld = held;
        if (held) return;
        for (const auto& control : state_->unshaken) state_->shake(control);
        state_->unshaken.clear();
    });
}

void TestRelay::holdReplies(bool held) {
    state_->queue.sync([&] { state_->held = held; });
}

void TestRelay::flood(double callsPerSecond) {
    state_->queue.sync([&] {
        state_->stopFlooding();
        state_->callsPerSecond = callsPerSecond;
        state_->callsSent = 0;
        state_->floodStart = std::chrono::steady_clock::now();
        state_->floodTimer = std::make_shared<asio::steady_timer>(state_->queue.executor());
        state_->floodTick();
    });
}

void TestRelay::stopFlood() {
    state_->queue.sync([&] { state_->stopFlooding(); });
}

bool TestRelay::waitUntil(const std::function<bool(const Heard&)>& done, std::chrono::milliseconds patience) {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, patience, [&] { return done(state_->heard); });
}

TestRelay::Heard TestRelay::heard() const {
    const std::lock_guard lock(state_->mutex);
    return state_->heard;
}

} // namespace Testing
