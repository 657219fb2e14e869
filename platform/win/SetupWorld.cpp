#include "SetupWorld.h"

#include <cstring>

namespace win {
namespace {

void AppendText(QByteArray& AData, const QString& AText)
{
    AData.append(reinterpret_cast<const char*>(AText.utf16()), AText.size() * qsizetype(sizeof(char16_t)));
    AData.append(2, '\0');
}

}  // namespace

TSetupProperty SetupSz(const QString& AText, DWORD AType)
{
    TSetupProperty p{AType, {}};
    AppendText(p.Data, AText);
    return p;
}

TSetupProperty SetupMultiSz(const QStringList& AItems)
{
    TSetupProperty p{REG_MULTI_SZ, {}};
    for (const QString& item : AItems)
        AppendText(p.Data, item);
    p.Data.append(2, '\0');
    return p;
}

TSetupProperty SetupDWord(DWORD AValue)
{
    TSetupProperty p{REG_DWORD, QByteArray(sizeof AValue, '\0')};
    std::memcpy(p.Data.data(), &AValue, sizeof AValue);
    return p;
}

TSetupProperty SetupBinary(const QByteArray& AData)
{
    return {REG_BINARY, AData};
}

}  // namespace win
