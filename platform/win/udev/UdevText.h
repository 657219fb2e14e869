#pragma once
// USB ids as udev gives them (sysfs attributes, event properties) and as the device world shows them.

#include <QString>

namespace win::udevids {

// A hexadecimal number of at most four digits from udev text; false for anything else.
inline bool Hex16(const QString& AText, unsigned& AValue)
{
    bool ok = false;
    const unsigned value = AText.trimmed().toUInt(&ok, 16);
    if (!ok || value > 0xFFFF)
        return false;
    AValue = value;
    return true;
}

// Four upper-case hexadecimal digits, as in VID_2047.
inline QString Hex4(unsigned AValue)
{
    return QStringLiteral("%1").arg(AValue, 4, 16, QLatin1Char('0')).toUpper();
}

}  // namespace win::udevids
