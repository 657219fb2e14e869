#pragma once
// Texts and USB ids as udev gives them (sysfs attributes, event properties) and as the device
// world shows them. Everything a device says is untrusted: each text goes through Clean.

#include <QByteArray>
#include <QString>

namespace win::udevids {

// Far more than any real device gives; keeps hostile texts from growing without end.
inline constexpr qsizetype cMaxText = 256;

// A text from a device: at most cMaxText characters, control characters blanked, trimmed.
inline QString Clean(const char* AText)
{
    if (!AText)
        return QString();
    QString text = QString::fromUtf8(AText, qstrnlen(AText, cMaxText * 4)).left(cMaxText);
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u' ';
    return text.trimmed();
}

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
