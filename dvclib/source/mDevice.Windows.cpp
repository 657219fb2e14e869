#include "mDevice.Windows.h"

#include "mDevice.Windows.Common.h"

#include <win/ErrHandlingApi.h>
#include <win/SetupWorld.h>
#include <win/WinError.h>

#include <QByteArray>

#include <cstring>
#include <vector>

namespace {

// The platform's CM_POWER_DATA: size, most recent power state, then the capabilities.
struct CM_POWER_DATA {
    DWORD PD_Size;
    DWORD PD_MostRecentPowerState;
    DWORD PD_Capabilities;
    DWORD PD_D1Latency;
    DWORD PD_D2Latency;
    DWORD PD_D3Latency;
    DWORD PD_PowerStateMapping[7];
    DWORD PD_DeepestSystemWake;
};
static_assert(sizeof(CM_POWER_DATA) == 56);

QString Unknown(DWORD AValue)
{
    return QStringLiteral("unknown 0x") + QStringLiteral("%1").arg(AValue, 8, 16, QLatin1Char('0')).toUpper();
}

template <std::size_t N>
QString FlagNames(DWORD AValue, const std::array<TFlagName, N>& ATable)
{
    QString result;
    for (const TFlagName& row : ATable)
        if (IsFlagSet(AValue, row.Flag))
            AppendDelimited(result, row.Name);
    return result;
}

}  // namespace

bool TWinDevice::GetBinaryProperty(DWORD ACode, void* ABuffer, DWORD ABufferSize)
{
    DWORD dataType = REG_BINARY;
    DWORD required = 0;
    return SetupDiGetDeviceRegistryPropertyW(FDeviceListHandle, &FDeviceInfoData, ACode, &dataType,
                                             static_cast<PBYTE>(ABuffer), ABufferSize, &required);
}

DWORD TWinDevice::GetDWordProperty(DWORD ACode)
{
    DWORD value = 0;
    DWORD dataType = REG_DWORD;
    DWORD required = sizeof value;
    SetupDiGetDeviceRegistryPropertyW(FDeviceListHandle, &FDeviceInfoData, ACode, &dataType,
                                      reinterpret_cast<PBYTE>(&value), sizeof value, &required);
    return value;
}

QString TWinDevice::GetStringProperty(DWORD ACode)
{
    QString result;
    DWORD dataType = 0;
    DWORD required = 0;
    const BOOL queried = SetupDiGetDeviceRegistryPropertyW(FDeviceListHandle, &FDeviceInfoData, ACode, &dataType,
                                                           nullptr, 0, &required);
    const DWORD error = queried ? ERROR_SUCCESS : GetLastError();
    if (dataType != REG_SZ && dataType != REG_MULTI_SZ)
        return result;
    if (queried || error != ERROR_INSUFFICIENT_BUFFER)
        return result;
    // Whole characters only; a trailing odd byte is no character.
    std::vector<WCHAR> buffer(required / sizeof(WCHAR) + 1, 0);
    SetupDiGetDeviceRegistryPropertyW(FDeviceListHandle, &FDeviceInfoData, ACode, &dataType,
                                      reinterpret_cast<PBYTE>(buffer.data()), required, &required);
    const qsizetype length = qsizetype(std::min<std::size_t>(required / sizeof(WCHAR), buffer.size() - 1));
    if (dataType == REG_SZ) {
        qsizetype end = 0;
        while (end < length && buffer[end] != 0)
            ++end;
        result = QString::fromUtf16(buffer.data(), end);
    } else if (dataType == REG_MULTI_SZ) {
        MultiSzToDelimited(buffer.data(), length, result);
    }
    return result;
}

TGUID TWinDevice::GetGUIDProperty(DWORD ACode)
{
    TGUID result;
    const QString text = GetStringProperty(ACode);
    if (!text.isEmpty())
        return StringToGUID(text);
    DWORD dataType = REG_BINARY;
    DWORD required = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(FDeviceListHandle, &FDeviceInfoData, ACode, &dataType, nullptr, 0,
                                           &required) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER && required <= sizeof result) {
        std::uint8_t bytes[sizeof result] = {};
        SetupDiGetDeviceRegistryPropertyW(FDeviceListHandle, &FDeviceInfoData, ACode, &dataType, bytes, required,
                                          &required);
        std::memcpy(&result, bytes, sizeof result);
    }
    return result;
}

QString TWinDevice::GetRemovalPolicyProperty(DWORD ACode)
{
    const DWORD value = GetDWordProperty(ACode);
    switch (value) {
    case 0: return QString();
    case 1: return QStringLiteral("CM_REMOVAL_POLICY_EXPECT_NO_REMOVAL");
    case 2: return QStringLiteral("CM_REMOVAL_POLICY_EXPECT_ORDERLY_REMOVAL");
    case 3: return QStringLiteral("CM_REMOVAL_POLICY_EXPECT_SURPRISE_REMOVAL");
    default: return Unknown(value);
    }
}

QString TWinDevice::Capabilities()
{
    return FlagNames(GetDWordProperty(SPDRP_CAPABILITIES), cDevCapNames);
}

QString TWinDevice::Characteristics()
{
    const DWORD value = GetDWordProperty(SPDRP_CHARACTERISTICS);
    if (value == 0)
        return QString();
    return QStringLiteral("0x") + QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

QString TWinDevice::ConfigFlags()
{
    return FlagNames(GetDWordProperty(SPDRP_CONFIGFLAGS), cConfigFlagNames);
}

QString TWinDevice::PowerData()
{
    CM_POWER_DATA data{};
    if (!GetBinaryProperty(SPDRP_DEVICE_POWER_DATA, &data, sizeof data))
        return QString();
    return FlagNames(data.PD_Capabilities, cPowerCapNames);
}

QString TWinDevice::InstallState()
{
    const DWORD value = GetDWordProperty(SPDRP_INSTALL_STATE);
    switch (value) {
    case 0: return QStringLiteral("CM_INSTALL_STATE_INSTALLED");
    case 1: return QStringLiteral("CM_INSTALL_STATE_NEEDS_REINSTALL");
    case 2: return QStringLiteral("CM_INSTALL_STATE_FAILED_INSTALL");
    case 3: return QStringLiteral("CM_INSTALL_STATE_FINISH_INSTALL");
    default: return Unknown(value);
    }
}

QString TWinDevice::LegacyBusType()
{
    static const char* const kNames[] = {
        "Internal", "Isa", "Eisa", "MicroChannel", "TurboChannel", "PCIBus", "VMEBus", "NuBus", "PCMCIABus",
        "CBus", "MPIBus", "MPSABus", "ProcessorInternal", "InternalPowerBus", "PNPISABus", "PNPBus",
        "MaximumInterfaceType"};
    const DWORD bits = GetDWordProperty(SPDRP_LEGACYBUSTYPE);
    const auto value = static_cast<std::int32_t>(bits);
    if (value == -1)
        return QStringLiteral("InterfaceTypeUndefined");
    if (value >= 0 && value < std::int32_t(std::size(kNames)))
        return QString::fromLatin1(kNames[value]);
    return Unknown(bits);
}

QString TWinDevice::DeviceClassDescription(const TGUID& DeviceTypeGUID)
{
    QString result;
    DWORD required = 0;
    if (!SetupDiGetClassDescriptionW(&DeviceTypeGUID, nullptr, 0, &required) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        std::vector<WCHAR> buffer(std::size_t(required) + 1, 0);
        SetupDiGetClassDescriptionW(&DeviceTypeGUID, buffer.data(), required, &required);
        result = QString::fromUtf16(buffer.data());
    }
    return result;
}

QString TWinDevice::DeviceClassDescription()
{
    return DeviceClassDescription(GetGUIDProperty(SPDRP_CLASSGUID));
}
