#pragma once

#include "tests/support/PatternFile.h"
#include "tests/support/TemporaryDirectory.h"

#include <cstdint>
#include <filesystem>
#include <fstream>

namespace Bench {

// A private temporary folder for the transfer benchmarks, holding a 256 MiB file to send; made
// once per program and removed at exit.
class TransferWorkspace {
public:
    static constexpr std::uint64_t sourceSize = 256ull * 1024 * 1024;

    static const TransferWorkspace& shared() {
        static const TransferWorkspace workspace;
        return workspace;
    }

    const std::filesystem::path& folder() const { return folder_.path(); }
    // sourceSize bytes that do not compress.
    std::filesystem::path source() const { return folder_ / "source.bin"; }
    // A sparse file of `size` bytes, made afresh; it costs no disk.
    std::filesystem::path makeSparse(std::uint64_t size) const {
        const std::filesystem::path path = folder_ / "sparse.bin";
        std::ofstream(path, std::ios::trunc).close();
        std::filesystem::resize_file(path, size);
        return path;
    }

    TransferWorkspace(const TransferWorkspace&) = delete;
    TransferWorkspace& operator=(const TransferWorkspace&) = delete;

private:
    TransferWorkspace() { Testing::writePatternFile(source(), sourceSize, 1); }

    Testing::TemporaryDirectory folder_;
};

} // namespace Bench
