#pragma once

#include "core/TransferSource.h"

namespace TessaloyCore {

// A transfer source over bytes held in memory; it needs no closing.
class DataTransferSource final : public TransferSource {
public:
    explicit DataTransferSource(Bytes data) noexcept : data_(std::move(data)) {}

    Bytes read(std::size_t maximumBytes) override;
    std::uint64_t size() const override { return data_.size(); }
    void close() noexcept override {}

private:
    Bytes data_;
    std::size_t position_ = 0;
};

} // namespace TessaloyCore
