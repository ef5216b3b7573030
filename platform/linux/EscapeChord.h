#pragma once

namespace Platform::Linux {

// Watches key changes for Escape pressed while Control, Alt and Super are held (other keys may be
// held too); fires once per press of Escape.
class EscapeChord {
public:
    enum class Key { control, alt, super, escape, other };

    // A key went down or up (auto-repeated presses are left out by the caller); returns whether
    // this change completes the chord.
    bool changed(Key key, bool isDown);

private:
    int control_ = 0;
    int alt_ = 0;
    int super_ = 0;
    bool escapeDown_ = false;
};

} // namespace Platform::Linux
