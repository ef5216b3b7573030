#include "core/DataTransferSource.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyCore;

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

TEST(DataTransferSource, ReadsFromTheStartToTheEnd) {
    const Bytes data = pattern(5);
    DataTransferSource source(data);
    EXPECT_EQ(source.size(), 5u);
    EXPECT_EQ(source.read(3), Bytes(data.begin(), data.begin() + 3));
    EXPECT_EQ(source.read(3), Bytes(data.begin() + 3, data.end()));
    EXPECT_TRUE(source.read(3).empty());
}

} // namespace
