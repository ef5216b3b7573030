#include "core/DataTransferSource.h"
#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyCore;
using Testing::pattern;

TEST(DataTransferSource, ReadsFromTheStartToTheEnd) {
    const Bytes data = pattern(5);
    DataTransferSource source(data);
    EXPECT_EQ(source.size(), 5u);
    EXPECT_EQ(source.read(3), Bytes(data.begin(), data.begin() + 3));
    EXPECT_EQ(source.read(3), Bytes(data.begin() + 3, data.end()));
    EXPECT_TRUE(source.read(3).empty());
}

} // namespace
