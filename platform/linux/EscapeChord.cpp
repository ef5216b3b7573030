#include "platform/linux/EscapeChord.h"

namespace Platform::Linux {

bool EscapeChord::changed(Key key, bool isDown) {
    // Counts, not flags: both Control keys may be held, and letting go of one keeps the other.
    const int step = isDown ? 1 : -1;
    switch (key) {
        case Key::control:
            control_ = control_ + step < 0 ? 0 : control_ + step;
            return false;
        case Key::alt:
            alt_ = alt_ + step < 0 ? 0 : alt_ + step;
            return false;
        case Key::super:
            super_ = super_ + step < 0 ? 0 : super_ + step;
            return false;
        case Key::escape: {
            // A held key repeats its press; only the first counts.
            const bool pressed = isDown && !escapeDown_;
            escapeDown_ = isDown;
            return pressed && control_ > 0 && alt_ > 0 && super_ > 0;
        }
        case Key::other:
            return false;
    }
    return false;
}

} // namespace Platform::Linux
