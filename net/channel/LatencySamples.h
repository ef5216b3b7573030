#pragma once

#include <cstddef>
#include <deque>
#include <optional>

namespace TessaloyNet {

// The last round-trip times of a channel, in seconds: a bounded window with its median, 95th
// percentile and maximum.
class LatencySamples {
public:
    static constexpr std::size_t capacity = 64;

    void add(double seconds);

    std::size_t count() const noexcept { return samples_.size(); }
    std::optional<double> median() const;
    std::optional<double> percentile95() const;
    std::optional<double> maximum() const;

private:
    std::optional<double> quantile(double fraction) const;

    std::deque<double> samples_;
};

} // namespace TessaloyNet
