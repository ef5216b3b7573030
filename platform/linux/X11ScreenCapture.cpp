#include "platform/linux/X11ScreenCapture.h"

#include "platform/linux/CursorCompositor.h"
#include "platform/linux/GrabPacer.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11ErrorTrap.h"
#include "platform/linux/X11GrabImage.h"
#include "platform/linux/X11Monitors.h"
#include "platform/linux/X11Owned.h"

#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <asio/steady_timer.hpp>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace Platform {

std::unique_ptr<ScreenCapture> ScreenCapture::create(TessaloyBase::SerialQueue& queue, const std::string& displayName,
                                                     std::string* whyNot) {
    try {
        Linux::X11Connection::open(displayName);
    } catch (const Linux::X11Error& error) {
        if (whyNot) *whyNot = error.what();
        return nullptr;
    }
    return std::make_unique<Linux::X11ScreenCapture>(queue, displayName);
}

namespace Linux {
namespace {

using Clock = std::chrono::steady_clock;
using Bounds = ShareableDisplay::Bounds;

bool overlaps(const Bounds& a, const Bounds& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// Where the pointer was drawn into a picture; a new serial means a new shape.
struct CursorPlacement {
    Bounds bounds;
    unsigned long serial = 0;

    friend bool operator==(const CursorPlacement&, const CursorPlacement&) = default;
};

enum class Outcome { unchanged, delivered, temporaryFailure, permanentFailure };

} // namespace

// One start of capture: its connection, picture, damage tracking and timer. Lives on the queue.
class X11ScreenCapture::Run : public std::enable_shared_from_this<Run> {
public:
    Run(TessaloyBase::SerialQueue& queue, const std::string& displayName, const Configuration& configuration,
        Callbacks callbacks);
    ~Run() { release(); }

    void begin();
    // No callback runs after this.
    void end() {
        queue_.assertCurrent();
        ended_ = true;
        timer_.cancel();
    }
    bool isLive() const { return !ended_; }
    bool setShowsCursor(bool showsCursor);
    void requestFrame() {
        queue_.assertCurrent();
        frameRequested_ = true;
    }

private:
    // Throws ScreenCaptureError or X11Error.
    void prepare(const std::string& displayName);
    void scheduleTick();
    void tick();
    Outcome captureOnce();
    void readEvents();
    Outcome checkDisplay();
    bool damageTouchesArea();
    std::optional<CursorPlacement> placementOf(const XFixesCursorImage* cursor) const;
    Outcome fail(std::string reason) {
        failure_ = std::move(reason);
        return Outcome::permanentFailure;
    }
    std::string lostConnection() const { return "lost the connection to the X server \"" + connection_->name() + "\""; }
    void release();

    TessaloyBase::SerialQueue& queue_;
    asio::steady_timer timer_;
    Callbacks callbacks_;
    std::uint32_t displayID_;
    Clock::duration interval_;
    Clock::duration pollInterval_;
    int failureLimit_;
    int displayCheckTicks_;
    bool showsCursor_;
    int ticksUntilDisplayCheck_;
    std::vector<std::string> notes_;

    std::unique_ptr<X11Connection> connection_;
    Bounds area_;
    bool sharedMemory_ = false;
    std::unique_ptr<X11GrabImage> image_;
    int damageEventBase_ = -1;
    X11Resource<Damage, XDamageDestroy> damage_;
    X11Resource<XserverRegion, XFixesDestroyRegion> damageParts_;
    bool hasXFixes_ = false;
    int randrEventBase_ = -1;

    Clock::time_point nextTick_;
    Clock::time_point nextFrameTick_;
    Clock::time_point lastDelivery_;
    GrabPacer pacer_;
    bool ended_ = false;
    bool forceFrame_ = true;
    bool frameRequested_ = false;
    bool damagePending_ = false;
    bool displayCheckDue_ = false;
    int consecutiveFailures_ = 0;
    std::optional<CursorPlacement> drawnCursor_;
    std::string failure_;
};

X11ScreenCapture::Run::Run(TessaloyBase::SerialQueue& queue, const std::string& displayName,
                           const Configuration& configuration, Callbacks callbacks)
    : queue_(queue),
      timer_(queue.executor()),
      callbacks_(std::move(callbacks)),
      displayID_(configuration.displayID),
      interval_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(1.0 / configuration.framesPerSecond))),
      pollInterval_(std::max<Clock::duration>(minimumPollInterval, interval_ / pollsPerFrame)),
      failureLimit_(std::max(1, static_cast<int>(std::ceil(configuration.framesPerSecond * failureGrace.count())))),
      displayCheckTicks_(
          std::max(1, static_cast<int>(std::ceil(configuration.framesPerSecond * displayCheckInterval.count())))),
      showsCursor_(configuration.showsCursor),
      ticksUntilDisplayCheck_(displayCheckTicks_),
      pacer_(interval_) {
    try {
        prepare(displayName);
    } catch (const X11Error& error) {
        throw ScreenCaptureError(ScreenCaptureError::Kind::unavailable, error.what());
    }
}

void X11ScreenCapture::Run::prepare(const std::string& displayName) {
    using Kind = ScreenCaptureError::Kind;
    connection_ = X11Connection::open(displayName);
    ::Display* display = connection_->display();
    const ::Window root = connection_->root();
    X11ErrorTrap trap(display);

    try {
        X11GrabImage::checkScreenFormat(*connection_);
    } catch (const X11Error& error) {
        throw ScreenCaptureError(Kind::unsupportedScreen, error.what());
    }
    std::optional<Bounds> bounds;
    for (const auto& candidate : X11Monitors::list(*connection_)) {
        if (candidate.displayID == displayID_) bounds = candidate.bounds;
    }
    if (!bounds) throw ScreenCaptureError(Kind::noSuchDisplay, "no display has the ID " + std::to_string(displayID_));
    area_ = *bounds;

    std::string whyNotShared;
    image_ = X11GrabImage::createShared(*connection_, area_.width, area_.height, whyNotShared);
    sharedMemory_ = image_ != nullptr;
    if (!image_) {
        notes_.push_back("MIT-SHM unavailable (" + whyNotShared + "); grabbing the screen with XGetImage");
        image_ = X11GrabImage::createPlain(*connection_, area_.width, area_.height);
    }

    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    hasXFixes_ = connection_->hasExtension("XFIXES") && XFixesQueryExtension(display, &eventBase, &errorBase) &&
                 XFixesQueryVersion(display, &major, &minor) && major >= 2;
    if (connection_->hasExtension("DAMAGE") && XDamageQueryExtension(display, &damageEventBase_, &errorBase) &&
        XDamageQueryVersion(display, &major, &minor)) {
        damage_ = {display, XDamageCreate(display, root, XDamageReportNonEmpty)};
        if (hasXFixes_) damageParts_ = {display, XFixesCreateRegion(display, nullptr, 0)};
    } else {
        damageEventBase_ = -1;
        notes_.push_back("XDamage unavailable; every tick delivers a frame");
    }
    if (!hasXFixes_ && showsCursor_) {
        notes_.push_back("XFixes unavailable; the pointer is not drawn");
        showsCursor_ = false;
    }
    if (connection_->hasExtension("RANDR") && XRRQueryExtension(display, &randrEventBase_, &errorBase)) {
        XRRSelectInput(display, root, RRScreenChangeNotifyMask);
    } else {
        randrEventBase_ = -1;
    }
    if (!trap.sync() || connection_->isBroken()) {
        throw ScreenCaptureError(Kind::unavailable,
                                 connection_->isBroken()
                                     ? lostConnection()
                                     : "the X server refused to prepare capture: " + trap.errorText());
    }
}

void X11ScreenCapture::Run::release() {
    if (!connection_) return;
    {
        X11ErrorTrap trap(connection_->display());
        image_.reset();
        damageParts_.reset();
        damage_.reset();
    }
    connection_.reset();
}

void X11ScreenCapture::Run::begin() {
    queue_.assertCurrent();
    for (const auto& note : notes_) {
        if (callbacks_.onNote) callbacks_.onNote(note);
    }
    nextTick_ = Clock::now();
    nextFrameTick_ = nextTick_;
    timer_.expires_at(nextTick_);
    timer_.async_wait([weak = weak_from_this()](const std::error_code& error) {
        if (auto self = weak.lock(); self && !error) self->tick();
    });
}

void X11ScreenCapture::Run::scheduleTick() {
    const auto now = Clock::now();
    // Looking often only matters while the screen moves; a still one is looked at once a frame.
    const Clock::duration step = now - lastDelivery_ < stillAfter ? pollInterval_ : interval_;
    nextTick_ += step;
    // After a stall, carry on from now rather than run the missed ticks in a burst.
    if (nextTick_ + step < now) nextTick_ = now;
    timer_.expires_at(nextTick_);
    timer_.async_wait([weak = weak_from_this()](const std::error_code& error) {
        if (auto self = weak.lock(); self && !error) self->tick();
    });
}

void X11ScreenCapture::Run::tick() {
    queue_.assertCurrent();
    if (ended_) return;
    const Outcome outcome = captureOnce();
    if (ended_) return release();
    if (outcome == Outcome::permanentFailure) {
        ended_ = true;
        release();
        if (callbacks_.onStopped) callbacks_.onStopped(failure_);
        return;
    }
    scheduleTick();
}

bool X11ScreenCapture::Run::setShowsCursor(bool showsCursor) {
    queue_.assertCurrent();
    if (showsCursor && !hasXFixes_) return false;
    if (showsCursor != showsCursor_) forceFrame_ = true;
    showsCursor_ = showsCursor;
    return true;
}

Outcome X11ScreenCapture::Run::captureOnce() {
    // Most ticks only read the events already sent: no request, so no error to trap and no round
    // trip to the server.
    readEvents();
    if (connection_->isBroken()) return fail(lostConnection());
    const auto now = Clock::now();
    // The pointer and the monitor are looked at once a frame interval.
    const bool frameTick = now >= nextFrameTick_;
    if (frameTick) {
        nextFrameTick_ += interval_;
        if (nextFrameTick_ <= now) nextFrameTick_ = now + interval_;
    }
    const bool checksDisplay = displayCheckDue_ || (frameTick && --ticksUntilDisplayCheck_ <= 0);
    // A change is grabbed as soon as it is seen, not at the next frame tick: a screen that moves at
    // the frame rate would otherwise now and then move twice between two ticks, and lose a picture.
    const bool looks =
        pacer_.mayGrab(now) && (frameTick || forceFrame_ || frameRequested_ || damagePending_ || !damage_);
    if (!checksDisplay && !looks) return Outcome::unchanged;

    ::Display* display = connection_->display();
    X11ErrorTrap trap(display);
    if (checksDisplay && checkDisplay() == Outcome::permanentFailure) return Outcome::permanentFailure;
    if (!looks) return Outcome::unchanged;

    bool changed = std::exchange(forceFrame_, false);
    changed = std::exchange(frameRequested_, false) || changed;
    if (!damage_) changed = true;
    if (std::exchange(damagePending_, false) && damageTouchesArea()) changed = true;

    X11Owned<XFixesCursorImage> cursor;
    std::optional<CursorPlacement> cursorPlacement;
    if (showsCursor_) {
        cursor.reset(XFixesGetCursorImage(display));
        cursorPlacement = placementOf(cursor.get());
    }
    if (cursorPlacement != drawnCursor_) changed = true;
    if (!changed) return Outcome::unchanged;

    pacer_.grabbed(now);
    const auto captureTime = Clock::now();
    const bool grabbed = image_->grab(area_.x, area_.y);
    // Xlib may report success with stale contents once the connection is gone.
    if (connection_->isBroken()) return fail(lostConnection());
    if (!grabbed) {
        // The screen may be changing under us: look the monitor up again and retry next tick.
        displayCheckDue_ = true;
        forceFrame_ = true;
        if (++consecutiveFailures_ >= failureLimit_) {
            return fail("could not read the screen: " + (trap.failed() ? trap.errorText() : std::string("no reply")));
        }
        return Outcome::temporaryFailure;
    }
    consecutiveFailures_ = 0;

    drawnCursor_ = cursorPlacement;
    if (cursorPlacement) {
        CursorCompositor::composite(image_->pixels(), image_->width(), image_->height(), image_->bytesPerRow(),
                                    {cursor->pixels, cursor->width, cursor->height},
                                    cursorPlacement->bounds.x - area_.x, cursorPlacement->bounds.y - area_.y);
    }
    const TessaloyBase::FrameView view{.pixels = image_->pixels(),
                                       .width = image_->width(),
                                       .height = image_->height(),
                                       .bytesPerRow = image_->bytesPerRow(),
                                       .captureTime = captureTime};
    lastDelivery_ = captureTime;
    if (callbacks_.onFrame) callbacks_.onFrame(view);
    return Outcome::delivered;
}

void X11ScreenCapture::Run::readEvents() {
    ::Display* display = connection_->display();
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (damageEventBase_ >= 0 && event.type == damageEventBase_ + XDamageNotify) {
            damagePending_ = true;
        } else if (randrEventBase_ >= 0 && event.type == randrEventBase_ + RRScreenChangeNotify) {
            XRRUpdateConfiguration(&event);
            displayCheckDue_ = true;
        }
    }
}

Outcome X11ScreenCapture::Run::checkDisplay() {
    displayCheckDue_ = false;
    ticksUntilDisplayCheck_ = displayCheckTicks_;
    std::optional<Bounds> bounds;
    try {
        for (const auto& candidate : X11Monitors::list(*connection_)) {
            if (candidate.displayID == displayID_) bounds = candidate.bounds;
        }
    } catch (const X11Error& error) {
        return fail(error.what());
    }
    if (!bounds) return fail("display " + std::to_string(displayID_) + " is no longer available");
    if (*bounds == area_) return Outcome::unchanged;

    const bool resized = bounds->width != area_.width || bounds->height != area_.height;
    area_ = *bounds;
    forceFrame_ = true;
    if (resized) {
        image_.reset();
        std::string whyNotShared;
        if (sharedMemory_) image_ = X11GrabImage::createShared(*connection_, area_.width, area_.height, whyNotShared);
        if (!image_) {
            try {
                image_ = X11GrabImage::createPlain(*connection_, area_.width, area_.height);
            } catch (const X11Error& error) {
                return fail(error.what());
            }
        }
    }
    return Outcome::unchanged;
}

bool X11ScreenCapture::Run::damageTouchesArea() {
    ::Display* display = connection_->display();
    if (!damageParts_) {
        XDamageSubtract(display, damage_.get(), None, None);
        return true;
    }
    XDamageSubtract(display, damage_.get(), None, damageParts_.get());
    int count = 0;
    const X11Owned<XRectangle> parts(XFixesFetchRegion(display, damageParts_.get(), &count));
    for (int i = 0; parts && i < count; ++i) {
        const XRectangle& part = parts.get()[i];
        if (overlaps(area_, {part.x, part.y, part.width, part.height})) return true;
    }
    return false;
}

std::optional<CursorPlacement> X11ScreenCapture::Run::placementOf(const XFixesCursorImage* cursor) const {
    if (!cursor || !cursor->pixels) return std::nullopt;
    const CursorPlacement placement{
        .bounds = {cursor->x - cursor->xhot, cursor->y - cursor->yhot, cursor->width, cursor->height},
        .serial = cursor->cursor_serial};
    if (!overlaps(area_, placement.bounds)) return std::nullopt;
    return placement;
}

X11ScreenCapture::X11ScreenCapture(TessaloyBase::SerialQueue& queue, std::string displayName)
    : queue_(queue), displayName_(std::move(displayName)) {}

X11ScreenCapture::~X11ScreenCapture() {
    if (!run_) return;
    if (queue_.isCurrent()) {
        run_->end();
    } else {
        // The run's timer and X resources are the queue's: they end there.
        queue_.async([run = std::move(run_)] { run->end(); });
    }
}

void X11ScreenCapture::start(const Configuration& configuration, Callbacks callbacks) {
    queue_.assertCurrent();
    if (!(configuration.framesPerSecond > 0 && configuration.framesPerSecond <= maximumFramesPerSecond)) {
        throw ScreenCaptureError(ScreenCaptureError::Kind::invalidConfiguration,
                                 "the frame rate must be above 0 and at most " +
                                     std::to_string(static_cast<int>(maximumFramesPerSecond)) + " per second");
    }
    stop();
    run_ = std::make_shared<Run>(queue_, displayName_, configuration, std::move(callbacks));
    run_->begin();
}

void X11ScreenCapture::stop() {
    queue_.assertCurrent();
    if (run_) run_->end();
    run_.reset();
}

bool X11ScreenCapture::isRunning() const {
    queue_.assertCurrent();
    return run_ && run_->isLive();
}

bool X11ScreenCapture::setShowsCursor(bool showsCursor) {
    queue_.assertCurrent();
    return run_ && run_->isLive() && run_->setShowsCursor(showsCursor);
}

void X11ScreenCapture::requestFrame() {
    queue_.assertCurrent();
    if (run_) run_->requestFrame();
}

} // namespace Linux
} // namespace Platform
