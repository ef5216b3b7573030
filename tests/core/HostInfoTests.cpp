#include "core/ByteReader.h"
#include "core/ByteWriter.h"
#include "core/SessionMessage.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <limits>
#include <string>

namespace {

using Testing::problemOf;
using namespace TessaloyCore;
using Message = SessionMessage;
using State = UpdateStatus::State;

std::optional<CodecProblem> decodingProblem(const Bytes& payload) {
    return problemOf<Message::Error>([&] { Message::decode(WirePacket(WirePacket::Kind::session, payload)); });
}

Message decoded(const Bytes& payload) { return Message::decode(WirePacket(WirePacket::Kind::session, payload)); }

void rawText(ByteWriter& writer, std::string_view text) {
    writer.u32(static_cast<std::uint32_t>(text.size()));
    writer.fixed({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::string repeated(std::string_view piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += piece;
    return text;
}

// The hostInfo payload written by hand, with raw bytes for the flags.
Bytes hostInfoPayload(const std::array<std::string, 4>& texts, std::uint8_t hasAvailable,
                      const std::string& availableVersion, std::int64_t availableBuild, std::uint8_t canInstall) {
    ByteWriter writer;
    writer.u8(22);
    for (const auto& text : texts) rawText(writer, text);
    writer.u8(hasAvailable);
    if (hasAvailable == 1) {
        rawText(writer, availableVersion);
        writer.i64(availableBuild);
    }
    writer.u8(canInstall);
    return writer.take();
}

Bytes hostInfoPayload(const HostInfo& info) {
    return hostInfoPayload({info.version, info.build, info.system, info.model}, info.available ? 1 : 0,
                           info.available ? info.available->version : "", info.available ? info.available->build : 0,
                           info.canInstall ? 1 : 0);
}

Bytes updateStatusPayload(std::uint8_t state, std::uint8_t hasDetail, const std::string& detail = "") {
    ByteWriter writer;
    writer.u8(23);
    writer.u8(state);
    writer.u8(hasDetail);
    if (hasDetail == 1) rawText(writer, detail);
    return writer.take();
}

const HostInfo sampleInfo{"1.4.2", "142", "Debian GNU/Linux 12", "desktop", std::nullopt, false};

TEST(HostInfoCodec, RoundTripsWithAndWithoutAnAvailableRelease) {
    HostInfo withRelease = sampleInfo;
    withRelease.available = HostInfo::AvailableRelease{"2.0 beta", std::numeric_limits<std::int64_t>::min()};
    withRelease.canInstall = true;
    for (const HostInfo& info : {sampleInfo, withRelease}) {
        const Bytes payload = hostInfoPayload(info);
        EXPECT_EQ(Message{info}.encoded(), payload);
        EXPECT_EQ(decoded(payload), Message{info});
        for (std::size_t length = 0; length < payload.size(); ++length) {
            const Bytes prefix(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(length));
            EXPECT_EQ(decodingProblem(prefix), CodecProblem::truncated) << length;
        }
    }
}

TEST(HostInfoCodec, EachTextHoldsAtMost64Characters) {
    const std::string longest = repeated("\xE2\x82\xAC", 63) + "1";
    const std::string tooLong = longest + "\xF0\x9F\x98\x80";
    ASSERT_EQ(scalarCount(longest), HostInfo::maximumTextCharacters);
    for (std::size_t field = 0; field < 5; ++field) {
        SCOPED_TRACE(field);
        const auto infoWith = [&](const std::string& text) {
            HostInfo info = sampleInfo;
            info.available = HostInfo::AvailableRelease{"1.5", 150};
            std::string* const texts[] = {&info.version, &info.build, &info.system, &info.model,
                                          &info.available->version};
            *texts[field] = text;
            return info;
        };
        const HostInfo fits = infoWith(longest);
        EXPECT_EQ(decoded(hostInfoPayload(fits)), Message{fits});
        EXPECT_EQ(Message{fits}.encoded(), hostInfoPayload(fits));
        EXPECT_EQ(decodingProblem(hostInfoPayload(infoWith(tooLong))), CodecProblem::tooLong);
        EXPECT_EQ(problemOf<Message::Error>([&] { (void)Message{infoWith(tooLong)}.encoded(); }),
                  CodecProblem::tooLong);
        EXPECT_EQ(decodingProblem(hostInfoPayload(infoWith("1.\xC0\x80"))), CodecProblem::invalidValue);
        EXPECT_EQ(problemOf<Message::Error>([&] { (void)Message{infoWith("\x80")}.encoded(); }),
                  CodecProblem::invalidValue);
    }
}

TEST(HostInfoCodec, FlagsAreZeroOrOne) {
    const std::array<std::string, 4> texts{"1", "2", "3", "4"};
    EXPECT_EQ(decodingProblem(hostInfoPayload(texts, 2, "", 0, 0)), CodecProblem::invalidValue);
    EXPECT_EQ(decodingProblem(hostInfoPayload(texts, 0, "", 0, 2)), CodecProblem::invalidValue);
    EXPECT_EQ(decodingProblem(hostInfoPayload(texts, 1, "5", 5, 7)), CodecProblem::invalidValue);
}

TEST(UpdateStatusCodec, StatesAreOneToSevenInCaseOrder) {
    const std::array<std::pair<State, const char*>, 7> states{{{State::checking, "checking"},
                                                               {State::upToDate, "upToDate"},
                                                               {State::downloading, "downloading"},
                                                               {State::verifying, "verifying"},
                                                               {State::installing, "installing"},
                                                               {State::failed, "failed"},
                                                               {State::notAllowed, "notAllowed"}}};
    for (std::size_t i = 0; i < states.size(); ++i) {
        const auto [state, name] = states[i];
        const auto raw = static_cast<std::uint8_t>(i + 1);
        EXPECT_STREQ(nameOf(state), name);
        const Message message{UpdateStatus{state, std::nullopt}};
        EXPECT_EQ(decoded(updateStatusPayload(raw, 0)), message);
        EXPECT_EQ(message.encoded(), updateStatusPayload(raw, 0));
    }
    for (const std::uint8_t raw : {0, 8, 255}) {
        EXPECT_EQ(decodingProblem(updateStatusPayload(raw, 0)), CodecProblem::invalidValue);
    }
    EXPECT_EQ(problemOf<Message::Error>([&] {
                  (void)Message{UpdateStatus{static_cast<State>(0), std::nullopt}}.encoded();
              }),
              CodecProblem::invalidValue);
    EXPECT_EQ(decodingProblem(updateStatusPayload(6, 2)), CodecProblem::invalidValue);
}

TEST(UpdateStatusCodec, DetailsHoldAtMost1024Bytes) {
    const std::string longest = repeated("\xC3\xA9", 512);
    const UpdateStatus status{State::failed, longest};
    EXPECT_EQ(decoded(updateStatusPayload(6, 1, longest)), Message{status});
    EXPECT_EQ(Message{status}.encoded(), updateStatusPayload(6, 1, longest));
    EXPECT_EQ(decoded(updateStatusPayload(6, 1, "")), (Message{UpdateStatus{State::failed, ""}}));
    EXPECT_EQ(decodingProblem(updateStatusPayload(6, 1, longest + "a")), CodecProblem::tooLong);
    EXPECT_EQ(problemOf<Message::Error>([&] {
                  (void)Message{UpdateStatus{State::failed, longest + "a"}}.encoded();
              }),
              CodecProblem::tooLong);
    EXPECT_EQ(decodingProblem(updateStatusPayload(6, 1, "\xC3\x28")), CodecProblem::invalidValue);

    const Bytes payload = updateStatusPayload(6, 1, "Try again later.");
    for (std::size_t length = 0; length < payload.size(); ++length) {
        const Bytes prefix(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(decodingProblem(prefix), CodecProblem::truncated) << length;
    }
}

} // namespace
