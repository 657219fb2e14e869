#include "mDevice.Windows.Common.h"

const std::array<TFlagName, 10> cDevCapNames = {{
    {0x0001, QStringLiteral("CM_DEVCAP_LOCKSUPPORTED")},
    {0x0002, QStringLiteral("CM_DEVCAP_EJECTSUPPORTED")},
    {0x0004, QStringLiteral("CM_DEVCAP_REMOVABLE")},
    {0x0008, QStringLiteral("CM_DEVCAP_DOCKDEVICE")},
    {0x0010, QStringLiteral("CM_DEVCAP_UNIQUEID")},
    {0x0020, QStringLiteral("CM_DEVCAP_SILENTINSTALL")},
    {0x0040, QStringLiteral("CM_DEVCAP_RAWDEVICEOK")},
    {0x0080, QStringLiteral("CM_DEVCAP_SURPRISEREMOVALOK")},
    {0x0100, QStringLiteral("CM_DEVCAP_HARDWAREDISABLED")},
    {0x0200, QStringLiteral("CM_DEVCAP_NONDYNAMIC")},
}};

const std::array<TFlagName, 16> cConfigFlagNames = {{
    {0x0001, QStringLiteral("CONFIGFLAG_DISABLED")},
    {0x0002, QStringLiteral("CONFIGFLAG_REMOVED")},
    {0x0004, QStringLiteral("CONFIGFLAG_MANUAL_INSTALL")},
    {0x0008, QStringLiteral("CONFIGFLAG_IGNORE_BOOT_LC")},
    {0x0010, QStringLiteral("CONFIGFLAG_NET_BOOT")},
    {0x0020, QStringLiteral("CONFIGFLAG_REINSTALL")},
    {0x0040, QStringLiteral("CONFIGFLAG_FAILEDINSTALL")},
    {0x0080, QStringLiteral("CONFIGFLAG_CANTSTOPACHILD")},
    {0x0100, QStringLiteral("CONFIGFLAG_OKREMOVEROM")},
    {0x0200, QStringLiteral("CONFIGFLAG_NOREMOVEEXIT")},
    {0x0400, QStringLiteral("CONFIGFLAG_FINISH_INSTALL")},
    {0x0800, QStringLiteral("CONFIGFLAG_NEEDS_FORCED_CONFIG")},
    {0x1000, QStringLiteral("CONFIGFLAG_NETBOOT_CARD")},
    {0x2000, QStringLiteral("CONFIGFLAG_PARTIAL_LOG_CONF")},
    {0x4000, QStringLiteral("CONFIGFLAG_SUPPRESS_SURPRISE")},
    {0x8000, QStringLiteral("CONFIGFLAG_VERIFY_HARDWARE")},
}};

const std::array<TFlagName, 9> cPowerCapNames = {{
    {0x0001, QStringLiteral("PDCAP_D0_SUPPORTED")},
    {0x0002, QStringLiteral("PDCAP_D1_SUPPORTED")},
    {0x0004, QStringLiteral("PDCAP_D2_SUPPORTED")},
    {0x0008, QStringLiteral("PDCAP_D3_SUPPORTED")},
    {0x0010, QStringLiteral("PDCAP_WAKE_FROM_D0_SUPPORTED")},
    {0x0020, QStringLiteral("PDCAP_WAKE_FROM_D1_SUPPORTED")},
    {0x0040, QStringLiteral("PDCAP_WAKE_FROM_D2_SUPPORTED")},
    {0x0080, QStringLiteral("PDCAP_WAKE_FROM_D3_SUPPORTED")},
    {0x0100, QStringLiteral("PDCAP_WARM_EJECT_SUPPORTED")},
}};

bool IsFlagSet(DWORD AValue, DWORD AFlag)
{
    return (AValue & AFlag) == AFlag;
}

void AppendDelimited(QString& AText, const QString& AItem)
{
    if (AText.isEmpty())
        AText = AItem;
    else
        AText += QStringLiteral(", ") + AItem;
}

void MultiSzToDelimited(const WCHAR* AData, qsizetype ALength, QString& ADest)
{
    qsizetype at = 0;
    while (AData && at < ALength) {
        qsizetype end = at;
        while (end < ALength && AData[end] != 0)
            ++end;
        if (end == at)
            break;  // the empty item of the closing pair
        AppendDelimited(ADest, QString::fromUtf16(AData + at, end - at));
        at = end + 1;
    }
}
