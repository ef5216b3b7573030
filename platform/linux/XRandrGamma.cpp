#include "platform/linux/XRandrGamma.h"

#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/X11Owned.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace Platform {

std::unique_ptr<Gamma> Gamma::create(const std::string& displayName) {
    return std::make_unique<Linux::XRandrGamma>(displayName);
}

namespace Linux {
namespace {

constexpr float levels = 65535.0f;

// `ramp` stretched over `size` entries by linear interpolation, as 16-bit levels.
void stretch(const std::vector<float>& ramp, unsigned short* into, int size) {
    for (int i = 0; i < size; ++i) {
        float level = 0;
        if (ramp.size() == 1) {
            level = ramp.front();
        } else if (!ramp.empty()) {
            const float position =
                size > 1 ? static_cast<float>(i) * static_cast<float>(ramp.size() - 1) / static_cast<float>(size - 1)
                         : 0.0f;
            const auto below = static_cast<std::size_t>(position);
            const std::size_t above = std::min(below + 1, ramp.size() - 1);
            const float fraction = position - static_cast<float>(below);
            level = ramp[below] + (ramp[above] - ramp[below]) * fraction;
        }
        into[i] = static_cast<unsigned short>(std::lround(std::clamp(level, 0.0f, 1.0f) * levels));
    }
}

std::vector<float> fractions(const unsigned short* levelsOf, int size) {
    std::vector<float> ramp(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) ramp[static_cast<std::size_t>(i)] = static_cast<float>(levelsOf[i]) / levels;
    return ramp;
}

} // namespace

XRandrGamma::XRandrGamma(std::string displayName, Guard guard) : displayName_(std::move(displayName)), guard_(guard) {}

XRandrGamma::~XRandrGamma() { restoreSavedRamps(); }

X11Connection* XRandrGamma::connection() {
    if (connection_ && connection_->isBroken()) connection_.reset();
    if (!connection_) {
        try {
            connection_ = X11Connection::open(displayName_);
        } catch (const X11Error&) {
            return nullptr;
        }
    }
    return connection_->hasExtension("RANDR") ? connection_.get() : nullptr;
}

std::vector<std::uint32_t> XRandrGamma::onlineDisplays() {
    X11Connection* x = connection();
    if (!x) return {};
    const X11ErrorTrap trap(x->display());
    const X11Owned<XRRScreenResources> resources(XRRGetScreenResourcesCurrent(x->display(), x->root()));
    std::vector<std::uint32_t> displays;
    for (int i = 0; resources && i < resources->noutput; ++i) {
        const X11Owned<XRROutputInfo> output(XRRGetOutputInfo(x->display(), resources.get(), resources->outputs[i]));
        if (output && output->crtc != 0) displays.push_back(static_cast<std::uint32_t>(resources->outputs[i]));
    }
    return displays;
}

unsigned long XRandrGamma::crtcOf(std::uint32_t displayID) {
    X11Connection* x = connection();
    if (!x) return 0;
    X11ErrorTrap trap(x->display());
    const X11Owned<XRRScreenResources> resources(XRRGetScreenResourcesCurrent(x->display(), x->root()));
    if (!resources) return 0;
    const X11Owned<XRROutputInfo> output(XRRGetOutputInfo(x->display(), resources.get(), displayID));
    return output && trap.sync() ? output->crtc : 0;
}

std::optional<Gamma::Ramps> XRandrGamma::ramps(std::uint32_t displayID) {
    const unsigned long crtc = crtcOf(displayID);
    if (crtc == 0) return std::nullopt;
    ::Display* display = connection_->display();
    X11ErrorTrap trap(display);
    const int size = XRRGetCrtcGammaSize(display, crtc);
    const X11Owned<XRRCrtcGamma> gamma(size > 0 ? XRRGetCrtcGamma(display, crtc) : nullptr);
    if (!gamma || !trap.sync()) return std::nullopt;
    return Ramps{fractions(gamma->red, gamma->size), fractions(gamma->green, gamma->size),
                 fractions(gamma->blue, gamma->size)};
}

bool XRandrGamma::setRamps(std::uint32_t displayID, const Ramps& ramps) {
    if (guard_ == Guard::watchdog && !saved_.contains(displayID)) {
        std::optional<Ramps> before = this->ramps(displayID);
        if (!before) return false;
        if (!watchdog_) watchdog_ = std::make_unique<RestoreWatchdog>(displayName_);
        // Unguarded ramps would stay black after a crash: better not to change them at all.
        if (!watchdog_->guardRamps(displayID, *before)) return false;
        saved_.emplace(displayID, std::move(*before));
    }
    const unsigned long crtc = crtcOf(displayID);
    return crtc != 0 && load(crtc, ramps);
}

bool XRandrGamma::load(unsigned long crtc, const Ramps& ramps) {
    ::Display* display = connection_->display();
    X11ErrorTrap trap(display);
    const int size = XRRGetCrtcGammaSize(display, crtc);
    const X11Owned<XRRCrtcGamma> gamma(size > 0 ? XRRAllocGamma(size) : nullptr);
    if (!gamma) return false;
    stretch(ramps.red, gamma->red, size);
    stretch(ramps.green, gamma->green, size);
    stretch(ramps.blue, gamma->blue, size);
    XRRSetCrtcGamma(display, crtc, gamma.get());
    return trap.sync();
}

void XRandrGamma::restoreSavedRamps() {
    for (const auto& [displayID, ramps] : saved_) {
        // A display unplugged meanwhile has nothing to restore.
        if (const unsigned long crtc = crtcOf(displayID)) load(crtc, ramps);
    }
    saved_.clear();
    watchdog_.reset();
}

} // namespace Linux
} // namespace Platform
