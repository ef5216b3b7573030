#include "core/IncomingTransfer.h"
#include "tests/support/ProblemOf.h"
#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>

namespace {

using Testing::problemOf;
using namespace TessaloyCore;
using ReceiveError = IncomingTransfer::ReceiveError;
using ReceiveCase = ReceiveError::Case;
using Testing::digestOf;

TransferOffer offerOf(TransferPurpose purpose, std::uint64_t size) { return {5, purpose, "n", "", size}; }

// Collects what the transfer writes.
struct Sink {
    Bytes written;
    int calls = 0;
    IncomingTransfer::Write write() {
        return [this](ByteView bytes) {
            ++calls;
            written.insert(written.end(), bytes.begin(), bytes.end());
        };
    }
};

TEST(IncomingTransfer, SizeMayReachButNotExceedThePurposesMaximum) {
    EXPECT_EQ(problemOf<ReceiveError>([] { IncomingTransfer(offerOf(TransferPurpose::clipboard, 26'214'400)); }),
              std::nullopt);
    EXPECT_EQ(problemOf<ReceiveError>([] { IncomingTransfer(offerOf(TransferPurpose::clipboard, 26'214'401)); }),
              ReceiveCase::tooLarge);
    EXPECT_EQ(problemOf<ReceiveError>([] { IncomingTransfer(offerOf(TransferPurpose::file, 1'073'741'824)); }),
              std::nullopt);
    EXPECT_EQ(problemOf<ReceiveError>([] { IncomingTransfer(offerOf(TransferPurpose::file, 1'073'741'825)); }),
              ReceiveCase::tooLarge);
    EXPECT_EQ(problemOf<ReceiveError>([] { IncomingTransfer(offerOf(TransferPurpose::file, UINT64_MAX)); }),
              ReceiveCase::tooLarge);
}

TEST(IncomingTransfer, ReceivesInOrderAndVerifies) {
    const Bytes data{1, 2, 3, 4, 5, 6, 7};
    IncomingTransfer transfer(offerOf(TransferPurpose::file, data.size()));
    EXPECT_EQ(transfer.offer(), offerOf(TransferPurpose::file, data.size()));
    EXPECT_EQ(transfer.receivedBytes(), 0u);
    Sink sink;
    transfer.receive(0, ByteView(data).first(3), sink.write());
    EXPECT_EQ(transfer.receivedBytes(), 3u);
    transfer.receive(3, {}, sink.write());
    EXPECT_EQ(transfer.receivedBytes(), 3u) << "an empty chunk counts nothing";
    transfer.receive(3, ByteView(data).subspan(3), sink.write());
    EXPECT_EQ(transfer.receivedBytes(), 7u);
    EXPECT_EQ(sink.written, data);
    EXPECT_NO_THROW(transfer.verify(digestOf(data)));
}

TEST(IncomingTransfer, EmptyTransferVerifiesAgainstTheDigestOfNothing) {
    const IncomingTransfer transfer(offerOf(TransferPurpose::clipboard, 0));
    EXPECT_NO_THROW(transfer.verify(digestOf({})));
    EXPECT_EQ(problemOf<ReceiveError>([&] { transfer.verify(digestOf(Bytes{0})); }), ReceiveCase::digestMismatch);
}

TEST(IncomingTransfer, RefusesAnyOffsetButTheNextByte) {
    IncomingTransfer transfer(offerOf(TransferPurpose::file, 10));
    Sink sink;
    transfer.receive(0, Bytes{1, 2}, sink.write());
    for (const std::uint64_t offset :
         {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{3}, std::uint64_t{10}, std::uint64_t{UINT64_MAX}}) {
        EXPECT_EQ(problemOf<ReceiveError>([&] { transfer.receive(offset, Bytes{9}, sink.write()); }),
                  ReceiveCase::unexpectedOffset)
            << offset;
    }
    EXPECT_EQ(sink.calls, 1);
    EXPECT_EQ(transfer.receivedBytes(), 2u);
}

TEST(IncomingTransfer, RefusesDataBeyondTheDeclaredSize) {
    IncomingTransfer transfer(offerOf(TransferPurpose::file, 5));
    Sink sink;
    EXPECT_EQ(problemOf<ReceiveError>([&] { transfer.receive(0, Bytes(6, 1), sink.write()); }),
              ReceiveCase::exceedsOffer);
    transfer.receive(0, Bytes(3, 1), sink.write());
    EXPECT_EQ(problemOf<ReceiveError>([&] { transfer.receive(3, Bytes(3, 1), sink.write()); }),
              ReceiveCase::exceedsOffer);
    transfer.receive(3, Bytes(2, 1), sink.write());
    EXPECT_EQ(problemOf<ReceiveError>([&] { transfer.receive(5, Bytes(1, 1), sink.write()); }),
              ReceiveCase::exceedsOffer);
    EXPECT_EQ(sink.written, Bytes(5, 1));
    EXPECT_EQ(transfer.receivedBytes(), 5u);

    IncomingTransfer empty(offerOf(TransferPurpose::file, 0));
    EXPECT_EQ(problemOf<ReceiveError>([&] { empty.receive(0, Bytes{1}, sink.write()); }), ReceiveCase::exceedsOffer);
    EXPECT_NO_THROW(empty.receive(0, {}, sink.write()));
}

TEST(IncomingTransfer, FailedWriteCountsNothing) {
    const Bytes data{1, 2, 3, 4};
    IncomingTransfer transfer(offerOf(TransferPurpose::file, data.size()));
    const auto failing = [](ByteView) { throw std::runtime_error("disk full"); };
    EXPECT_THROW(transfer.receive(0, ByteView(data).first(2), failing), std::runtime_error);
    EXPECT_EQ(transfer.receivedBytes(), 0u);

    Sink sink;
    transfer.receive(0, data, sink.write());
    EXPECT_NO_THROW(transfer.verify(digestOf(data))) << "the refused chunk left the digest alone";
}

TEST(IncomingTransfer, VerifyNeedsEveryByteAndTheRightDigest) {
    const Bytes data{1, 2, 3, 4};
    IncomingTransfer transfer(offerOf(TransferPurpose::file, data.size()));
    Sink sink;
    transfer.receive(0, ByteView(data).first(3), sink.write());
    EXPECT_EQ(problemOf<ReceiveError>([&] { transfer.verify(digestOf(data)); }), ReceiveCase::incomplete);
    transfer.receive(3, ByteView(data).subspan(3), sink.write());

    Bytes wrong = digestOf(data);
    wrong[31] ^= 1;
    EXPECT_EQ(problemOf<ReceiveError>([&] { transfer.verify(wrong); }), ReceiveCase::digestMismatch);
    const Bytes right = digestOf(data);
    EXPECT_EQ(problemOf<ReceiveError>([&] { transfer.verify(ByteView(right).first(31)); }),
              ReceiveCase::digestMismatch);
    Bytes longer = right;
    longer.push_back(0);
    EXPECT_EQ(problemOf<ReceiveError>([&] { transfer.verify(longer); }), ReceiveCase::digestMismatch);
    EXPECT_EQ(problemOf<ReceiveError>([&] { transfer.verify({}); }), ReceiveCase::digestMismatch);
    EXPECT_NO_THROW(transfer.verify(right));
}

} // namespace
