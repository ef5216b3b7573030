#include "net/channel/LatencySamples.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace TessaloyNet {

void LatencySamples::add(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return;
    samples_.push_back(seconds);
    if (samples_.size() > capacity) samples_.pop_front();
}

std::optional<double> LatencySamples::quantile(double fraction) const {
    if (samples_.empty()) return std::nullopt;
    std::vector<double> sorted(samples_.begin(), samples_.end());
    std::sort(sorted.begin(), sorted.end());
    // Nearest rank: the smallest sample with at least `fraction` of all samples at or below it.
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

std::optional<double> LatencySamples::median() const { return quantile(0.5); }

std::optional<double> LatencySamples::percentile95() const { return quantile(0.95); }

std::optional<double> LatencySamples::maximum() const {
    if (samples_.empty()) return std::nullopt;
    return *std::max_element(samples_.begin(), samples_.end());
}

} // namespace TessaloyNet
