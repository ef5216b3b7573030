#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

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

    const std::filesystem::path& folder() const { return folder_; }
    // sourceSize bytes of pseudo-random data.
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
    TransferWorkspace() {
        std::string pattern = (std::filesystem::temp_directory_path() / "plovander-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("could not create a temporary folder");
        folder_ = pattern;
        std::vector<char> block(1024 * 1024);
        std::uint64_t x = 0x9E37'79B9'7F4A'7C15ull;
        std::ofstream file(source(), std::ios::binary);
        for (std::uint64_t written = 0; written < sourceSize; written += block.size()) {
            for (std::size_t i = 0; i < block.size(); i += 8) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                std::memcpy(block.data() + i, &x, 8);
            }
            file.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        if (!file.flush()) throw std::runtime_error("could not write the file to send");
    }
    ~TransferWorkspace() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::filesystem::path folder_;
};

} // namespace Bench
