#include "app/ui/decisions/DeviceNames.h"

#include <QChar>
#include <QStringList>

namespace Plovander {
namespace {

bool reordersText(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isNeutralised(char32_t c) { return QChar::category(c) == QChar::Other_Control || reordersText(c); }

} // namespace

QString plainName(const QString& name) {
    QString shown;
    shown.reserve(name.size());
    for (const char32_t c : name.toUcs4()) {
        const char32_t kept = isNeutralised(c) ? char32_t{0xFFFD} : c;
        shown += QString::fromUcs4(&kept, 1);
    }
    return shown;
}

QString deviceDisplayName(const QString& name) {
    static const QString fallback = QStringLiteral("A device");
    if (name.isEmpty()) return fallback;
    if (name.contains(QLatin1Char('%'))) return fallback;
    if (name.count(QLatin1Char(':')) >= 2) return fallback;
    const char32_t first = name.toUcs4().front();
    if (QChar::isNumber(first) && name.contains(QLatin1Char('.'))) return fallback;
    return name;
}

QString spokenCode(const QString& code) {
    QStringList symbols;
    for (const char32_t c : code.toUcs4()) {
        if (c != U'-') symbols << QString::fromUcs4(&c, 1);
    }
    return symbols.join(QLatin1Char(' '));
}

} // namespace Plovander
