#include "net/transfer/FileTransferSource.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <system_error>

#include <sys/stat.h>

namespace {

using TessaloyCore::Bytes;
using TessaloyNet::FileTransferSource;
using Testing::pattern;

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(FileTransferSource, MeasuresTheFileAndReadsItInPieces) {
    const Testing::TemporaryDirectory folder;
    const Bytes data = pattern(10);
    writeFile(folder / "file", data);
    FileTransferSource source(folder / "file");
    EXPECT_EQ(source.size(), 10u);
    EXPECT_EQ(source.read(4), Bytes(data.begin(), data.begin() + 4));
    EXPECT_EQ(source.read(100), Bytes(data.begin() + 4, data.end()));
    EXPECT_TRUE(source.read(4).empty());
    source.close();
    EXPECT_THROW(source.read(4), std::system_error);
    source.close();
}

TEST(FileTransferSource, ThrowsWhenTheFileCannotBeOpenedOrSought) {
    const Testing::TemporaryDirectory folder;
    EXPECT_THROW(FileTransferSource(folder / "missing"), std::system_error);
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_THROW(FileTransferSource(folder / "pipe"), std::system_error) << "a pipe cannot be sought";
}

} // namespace
