#pragma once

#include "core/TransferSource.h"

#include <filesystem>

namespace TessaloyNet {

// A transfer source that reads a file as it is sent, never holding it whole. The size is the
// file's length when it was opened; a file that shrinks later reads short.
class FileTransferSource final : public TessaloyCore::TransferSource {
public:
    // Opens the file for reading and measures it; throws std::system_error when it cannot be
    // opened or sought.
    explicit FileTransferSource(const std::filesystem::path& path);
    ~FileTransferSource() override;
    FileTransferSource(const FileTransferSource&) = delete;
    FileTransferSource& operator=(const FileTransferSource&) = delete;

    // Throws std::system_error when the read fails or the source was closed.
    TessaloyCore::Bytes read(std::size_t maximumBytes) override;
    std::uint64_t size() const override { return size_; }
    void close() noexcept override;

private:
    int descriptor_ = -1;
    std::uint64_t size_ = 0;
};

} // namespace TessaloyNet
