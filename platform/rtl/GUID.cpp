#include "GUID.h"

#include "SysUtils.h"

#include <cstring>

bool operator==(const TGUID& A, const TGUID& B)
{
    return std::memcmp(&A, &B, sizeof(TGUID)) == 0;
}

bool operator<(const TGUID& A, const TGUID& B)
{
    return std::memcmp(&A, &B, sizeof(TGUID)) < 0;
}

bool IsEqualGUID(const TGUID& A, const TGUID& B)
{
    return A == B;
}

QString GUIDToString(const TGUID& AGuid)
{
    return QStringLiteral("{%1-%2-%3-%4%5-%6%7%8%9%10%11}")
        .arg(AGuid.D1, 8, 16, QLatin1Char('0'))
        .arg(AGuid.D2, 4, 16, QLatin1Char('0'))
        .arg(AGuid.D3, 4, 16, QLatin1Char('0'))
        .arg(AGuid.D4[0], 2, 16, QLatin1Char('0'))
        .arg(AGuid.D4[1], 2, 16, QLatin1Char('0'))
        .arg(AGuid.D4[2], 2, 16, QLatin1Char('0'))
        .arg(AGuid.D4[3], 2, 16, QLatin1Char('0'))
        .arg(AGuid.D4[4], 2, 16, QLatin1Char('0'))
        .arg(AGuid.D4[5], 2, 16, QLatin1Char('0'))
        .arg(AGuid.D4[6], 2, 16, QLatin1Char('0'))
        .arg(AGuid.D4[7], 2, 16, QLatin1Char('0'))
        .toUpper();
}

namespace {

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Reads ACount digits at APos; false at the first character that is not one.
bool ReadHex(const QString& AText, qsizetype APos, int ACount, std::uint32_t& AValue)
{
    AValue = 0;
    for (int i = 0; i < ACount; ++i) {
        const int d = HexDigit(AText.at(APos + i));
        if (d < 0)
            return false;
        AValue = AValue << 4 | std::uint32_t(d);
    }
    return true;
}

}  // namespace

bool TryStringToGUID(const QString& AText, TGUID& AGuid)
{
    if (AText.size() != 38 || AText.at(0) != u'{' || AText.at(37) != u'}')
        return false;
    for (qsizetype dash : {9, 14, 19, 24})
        if (AText.at(dash) != u'-')
            return false;
    TGUID result;
    std::uint32_t v = 0;
    if (!ReadHex(AText, 1, 8, v))
        return false;
    result.D1 = v;
    if (!ReadHex(AText, 10, 4, v))
        return false;
    result.D2 = std::uint16_t(v);
    if (!ReadHex(AText, 15, 4, v))
        return false;
    result.D3 = std::uint16_t(v);
    const qsizetype bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(AText, bytePos[i], 2, v))
            return false;
        result.D4[i] = std::uint8_t(v);
    }
    AGuid = result;
    return true;
}

TGUID StringToGUID(const QString& AText)
{
    TGUID result;
    if (!TryStringToGUID(AText, result))
        throw EConvertError(Format(RtlConsts::SInvalidGUID, {AText}));
    return result;
}

std::size_t std::hash<TGUID>::operator()(const TGUID& AGuid) const noexcept
{
    std::uint64_t a = 0, b = 0;
    std::memcpy(&a, &AGuid, 8);
    std::memcpy(&b, reinterpret_cast<const char*>(&AGuid) + 8, 8);
    return std::hash<std::uint64_t>()(a ^ (b * 0x9E3779B97F4A7C15ull));
}
