#pragma once

#include <QString>

namespace Plovander {

// A name that came from a device, safe to show: control characters and the characters that
// reorder text (bidi embeddings, overrides and isolates) become U+FFFD, so a name cannot hide
// itself or turn the text around it.
QString plainName(const QString& name);

// The name to announce a device by: "A device" when the self-reported name is empty, or looks
// like an address (a percent sign, two colons, or a leading number with a full stop), else the
// name as it is.
QString deviceDisplayName(const QString& name);

// The pairing code spelled out for a screen reader: its symbols without "-", one space apart.
QString spokenCode(const QString& code);

} // namespace Plovander
